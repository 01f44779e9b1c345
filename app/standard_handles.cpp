#include "app/standard_handles.h"

namespace ZT {

bool waits_for_enter_after_failure(unsigned long console_processes, bool input_is_console) {
    return console_processes == 1 && input_is_console;
}

}  // namespace ZT
