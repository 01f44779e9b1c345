#include "lib/thread.h"

#include "lib/text.h"

#include <windows.h>

#include <pthread.h>

namespace ZT {

namespace {

// The Windows handle of a std::thread. The mingw-w64 build uses the posix
// thread model, whose native handle is a winpthreads thread.
HANDLE windows_handle(std::thread& thread) { return static_cast<HANDLE>(pthread_gethandle(thread.native_handle())); }

// Thread descriptions exist only on newer systems, so the functions are looked
// up at run time: first in KernelBase.dll, then in kernel32.dll.
template <typename function_type>
function_type find_kernel_function(const char* name) {
    for (const wchar_t* module_name : {L"KernelBase.dll", L"kernel32.dll"}) {
        const HMODULE module = GetModuleHandleW(module_name);
        if (!module) continue;
        if (const FARPROC address = GetProcAddress(module, name))
            return reinterpret_cast<function_type>(reinterpret_cast<void (*)()>(address));
    }
    return nullptr;
}

using set_description_function = HRESULT(WINAPI*)(HANDLE, PCWSTR);
using get_description_function = HRESULT(WINAPI*)(HANDLE, PWSTR*);

}  // namespace

void set_native_thread_priority(std::thread& thread, int priority) {
    if (HANDLE handle = windows_handle(thread)) SetThreadPriority(handle, priority);
}

void raise_priority_for_join(std::thread& thread) {
    HANDLE handle = windows_handle(thread);
    if (!handle) return;
    const int own = GetThreadPriority(GetCurrentThread());
    const int theirs = GetThreadPriority(handle);
    if (own == THREAD_PRIORITY_ERROR_RETURN || theirs == THREAD_PRIORITY_ERROR_RETURN) return;
    if (own > theirs) SetThreadPriority(handle, own);
}

void set_thread_name(const std::string& name) {
    static const auto set_description = find_kernel_function<set_description_function>("SetThreadDescription");
    if (!set_description) return;
    const std::u16string wide = utf8_to_utf16(name);
    set_description(GetCurrentThread(), reinterpret_cast<const wchar_t*>(wide.c_str()));
}

std::string current_thread_name() {
    static const auto get_description = find_kernel_function<get_description_function>("GetThreadDescription");
    if (!get_description) return {};
    PWSTR description = nullptr;
    if (FAILED(get_description(GetCurrentThread(), &description)) || !description) return {};
    std::string name = utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(description)));
    LocalFree(description);
    return name;
}

}  // namespace ZT
