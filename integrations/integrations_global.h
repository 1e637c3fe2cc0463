#ifndef INTEGRATIONS_GLOBAL_H
#define INTEGRATIONS_GLOBAL_H

/// \file
/// The export macro of the integrations library.

#include <QtCore/qglobal.h>

/// \def OV_INTEGRATIONS_EXPORT
/// Marks the classes that the integrations library exports (OvIntegrations, PluginData).
///
/// The library's own parts export what the installed headers declare; a program that links the
/// parts' objects itself (the tests) neither imports nor exports; everyone else imports. The
/// library is built with `INTEGRATIONS_LIBRARY` defined, such a program with `OV_INTEGRATIONS_STATIC`;
/// an application defines neither.

#if defined(INTEGRATIONS_LIBRARY)
#define OV_INTEGRATIONS_EXPORT Q_DECL_EXPORT
#elif defined(OV_INTEGRATIONS_STATIC)
#define OV_INTEGRATIONS_EXPORT
#else
#define OV_INTEGRATIONS_EXPORT Q_DECL_IMPORT
#endif

#endif // INTEGRATIONS_GLOBAL_H
