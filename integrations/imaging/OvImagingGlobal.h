#ifndef OVIMAGINGGLOBAL_H
#define OVIMAGINGGLOBAL_H

/// \file
/// The export macros of the imaging libraries.
///
/// Each imaging library is a shared library of its own; the macro of a library exports its
/// symbols while that library is built and imports them everywhere else. A library is built with
/// its `OV_BUILD_...` symbol defined; an application defines none of them.

#include <QtCore/qglobal.h>

/// \def OV_IMAGEDATA_EXPORT
/// Marks what the image-data library exports (ImageData); it exports while `OV_BUILD_IMAGEDATA`
/// is defined.

/// \def OV_IMAGEIO_EXPORT
/// Marks what the image I/O library exports (OvImageReaderWorker, OvImageWriter); it exports while
/// `OV_BUILD_IMAGEIO` is defined.

/// \def OV_EXIFTOOL_EXPORT
/// Marks what the ExifTool wrapper library exports (OvExifTool); it exports while
/// `OV_BUILD_EXIFTOOL` is defined.

/// \def OV_METADATA_EXPORT
/// Marks what the metadata library exports (OvExifToolMetadata); it exports while
/// `OV_BUILD_METADATA` is defined.

/// \def OV_IMAGEUTILS_EXPORT
/// Marks what the image-utilities library exports (OvImageUtils, CvUtils); it exports while
/// `OV_BUILD_IMAGEUTILS` is defined.

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
