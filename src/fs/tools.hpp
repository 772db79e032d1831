// fs_read and fs_list: reading files in the folders the operator approved.
#pragma once

#include <toolport/toolport.hpp>

namespace fsaccess {

toolport::Tool tool_fs_read();
toolport::Tool tool_fs_list();

}  // namespace fsaccess
