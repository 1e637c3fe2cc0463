#include "LargeMatAllocator.h"

#include "LargeMemory.h"

#include <opencv2/core.hpp>

cv::MatAllocator *LargeMatAllocator::instance()
{
    static LargeMatAllocator *allocator = new LargeMatAllocator;
    return allocator;
}

cv::UMatData *LargeMatAllocator::allocate(int dims, const int *sizes, int type, void *data, size_t *step,
                                          cv::AccessFlag, cv::UMatUsageFlags) const
{
    size_t total = CV_ELEM_SIZE(type);
    for (int i = dims - 1; i >= 0; --i) {
        if (step) {
            if (data && step[i] != cv::Mat::AUTO_STEP)
                total = step[i];
            else
                step[i] = total;
        }
        total *= size_t(sizes[i]);
    }
    auto *memory = static_cast<uchar *>(data ? data : allocateLargeMemory(total));
    if (!memory)
        CV_Error(cv::Error::StsNoMem, "cannot allocate image memory");
    auto *u = new cv::UMatData(this);
    u->data = u->origdata = memory;
    u->size = total;
    if (data)
        u->flags |= cv::UMatData::USER_ALLOCATED;
    return u;
}

bool LargeMatAllocator::allocate(cv::UMatData *data, cv::AccessFlag, cv::UMatUsageFlags) const
{
    return data != nullptr;
}

void LargeMatAllocator::deallocate(cv::UMatData *data) const
{
    if (!data)
        return;
    if (!(data->flags & cv::UMatData::USER_ALLOCATED))
        releaseLargeMemory(data->origdata, data->size);
    delete data;
}
