#include "ftp/ftp_session.h"

namespace ZT {

// The command table. Verbs that are not (yet) served here are unknown: the
// session answers them "502 Unknown command".
void ftp_session::dispatch_command(const std::string&, const std::string&, bool& known) { known = false; }

}  // namespace ZT
