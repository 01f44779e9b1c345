#include "ftp/failure_replies.h"

#include "lib/errors.h"

namespace ZT {

namespace {

// The reply, or, for failures::passes_on (the empty text), the exception being
// handled passed on.
std::string_view answer_or_rethrow(std::string_view reply) {
    if (reply.empty()) throw;
    return reply;
}

}  // namespace

std::string_view failure_reply(const failure_mapping& mapping) {
    // Rethrown here to be told apart by type; what is not caught below leaves as
    // it came.
    try {
        throw;
    } catch (const user_abort&) {
        return answer_or_rethrow(mapping.on_user_abort);
    } catch (const file_not_found&) {
        return answer_or_rethrow(mapping.on_file_not_found);
    } catch (const denied&) {
        return answer_or_rethrow(mapping.on_denied);
    } catch (const directory_not_empty&) {
        return answer_or_rethrow(mapping.on_directory_not_empty);
    } catch (const file_access_error&) {
        return answer_or_rethrow(mapping.on_other_file_error);
    } catch (const std::exception&) {
        return answer_or_rethrow(mapping.on_other);
    }
}

}  // namespace ZT
