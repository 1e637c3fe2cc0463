#ifndef SHAREDMEMORYFAULTS_H
#define SHAREDMEMORYFAULTS_H

#include <cstddef>

// The filter module owns the shared-memory objects and can cut one short while we have it
// mapped; touching the lost pages then raises a bus error. A fault inside a watched mapping ends
// the process with the fatal exit code and a line on the standard error that says why, instead
// of a bare crash. Faults elsewhere keep their usual course.
class SharedMemoryFaults
{
public:
    // Watches [begin, begin + size); the first call installs the handler. Ranges are never
    // removed: the channels stay mapped for the life of the process.
    static void watch(const void *begin, std::size_t size);
};

#endif // SHAREDMEMORYFAULTS_H
