#ifndef INTEGRATIONS_GLOBAL_H
#define INTEGRATIONS_GLOBAL_H

#include <QtCore/qglobal.h>

// The library's own parts export what the installed headers declare; a program that links the
// parts' objects itself (the tests) neither imports nor exports; everyone else imports.
#if defined(INTEGRATIONS_LIBRARY)
#define OV_INTEGRATIONS_EXPORT Q_DECL_EXPORT
#elif defined(OV_INTEGRATIONS_STATIC)
#define OV_INTEGRATIONS_EXPORT
#else
#define OV_INTEGRATIONS_EXPORT Q_DECL_IMPORT
#endif

#endif // INTEGRATIONS_GLOBAL_H
