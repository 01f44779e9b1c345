#include "app/standard_handles.h"

namespace ZT {

bool waits_for_enter_after_failure(const console_facts& console) {
    return console.processes == 1 && console.input_is_console && console.has_window && !console.started_hidden &&
           console.display_visible;
}

}  // namespace ZT
