#ifndef OVIMAGINGGLOBAL_H
#define OVIMAGINGGLOBAL_H

#include <QtCore/qglobal.h>

// Each imaging library is a shared library of its own; the macro of a library exports its
// symbols while that library is built and imports them everywhere else.
#if defined(OV_BUILD_IMAGEDATA)
#define OV_IMAGEDATA_EXPORT Q_DECL_EXPORT
#else
#define OV_IMAGEDATA_EXPORT Q_DECL_IMPORT
#endif

#if defined(OV_BUILD_IMAGEIO)
#define OV_IMAGEIO_EXPORT Q_DECL_EXPORT
#else
#define OV_IMAGEIO_EXPORT Q_DECL_IMPORT
#endif

#if defined(OV_BUILD_EXIFTOOL)
#define OV_EXIFTOOL_EXPORT Q_DECL_EXPORT
#else
#define OV_EXIFTOOL_EXPORT Q_DECL_IMPORT
#endif

#if defined(OV_BUILD_METADATA)
#define OV_METADATA_EXPORT Q_DECL_EXPORT
#else
#define OV_METADATA_EXPORT Q_DECL_IMPORT
#endif

#if defined(OV_BUILD_IMAGEUTILS)
#define OV_IMAGEUTILS_EXPORT Q_DECL_EXPORT
#else
#define OV_IMAGEUTILS_EXPORT Q_DECL_IMPORT
#endif

#endif // OVIMAGINGGLOBAL_H
