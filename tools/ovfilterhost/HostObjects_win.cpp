#include "HostObjects.h"

#include <boost/interprocess/detail/shared_dir_helpers.hpp>

#include <windows.h>

namespace HostObjects {

bool removeLeftover(const std::string &name)
{
    std::string path;
    boost::interprocess::ipcdetail::shared_filepath(name.c_str(), path);
    return DeleteFileA(path.c_str()) != 0;
}

} // namespace HostObjects
