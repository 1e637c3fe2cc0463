#ifndef LARGEMATALLOCATOR_H
#define LARGEMATALLOCATOR_H

#include <opencv2/core/mat.hpp>

// An OpenCV allocator that takes whole-image buffers from allocateLargeMemory. Matrices keep
// a pointer to their allocator, so the one instance lives until the process ends.
class LargeMatAllocator : public cv::MatAllocator
{
public:
    static cv::MatAllocator *instance();

    cv::UMatData *allocate(int dims, const int *sizes, int type, void *data, size_t *step, cv::AccessFlag flags,
                           cv::UMatUsageFlags usageFlags) const override;
    bool allocate(cv::UMatData *data, cv::AccessFlag accessFlags, cv::UMatUsageFlags usageFlags) const override;
    void deallocate(cv::UMatData *data) const override;
};

#endif // LARGEMATALLOCATOR_H
