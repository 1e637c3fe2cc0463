# OpenCV's core, imgproc and imgcodecs. OpenCV's own CMake package comes only with Debian's
# libopencv-dev, which pulls in every module (VTK, the DNN and contrib modules) for three that
# this project uses; without it, the three are found where their own -dev packages put them.
find_package(OpenCV 4 QUIET COMPONENTS core imgproc imgcodecs)
if(NOT OpenCV_FOUND)
    find_path(OV_OPENCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4 REQUIRED)
    foreach(module core imgproc imgcodecs)
        find_library(OV_OPENCV_${module}_LIBRARY NAMES opencv_${module} REQUIRED)
        add_library(opencv_${module} SHARED IMPORTED)
        set_target_properties(opencv_${module} PROPERTIES
            IMPORTED_LOCATION "${OV_OPENCV_${module}_LIBRARY}"
            INTERFACE_INCLUDE_DIRECTORIES "${OV_OPENCV_INCLUDE_DIR}")
    endforeach()
    set_property(TARGET opencv_imgproc PROPERTY INTERFACE_LINK_LIBRARIES opencv_core)
    set_property(TARGET opencv_imgcodecs PROPERTY INTERFACE_LINK_LIBRARIES opencv_imgproc opencv_core)
    message(STATUS "OpenCV: core, imgproc and imgcodecs in ${OV_OPENCV_INCLUDE_DIR} (no OpenCV CMake package)")
endif()
