#include "app/service.h"

namespace ZT {

// No service control manager here: the program always starts as from a console.
std::optional<int> run_as_service(event_object&, const service_body&) { return std::nullopt; }

}  // namespace ZT
