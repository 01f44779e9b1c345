#include "ftp/commands.h"
#include "ftp/ftp_session.h"
#include "ftp/replies.h"


namespace ZT {

namespace {

// What a command demands of its argument before its handler runs.
enum class argument_rule {
    ignored,        // not looked at
    optional,       // the handler decides what an empty one means
    required,       // empty: "501 Invalid number of arguments"
    must_be_empty,  // not empty: "501 Invalid number of arguments"
};

struct command_entry {
    const char* verb;
    argument_rule rule;
    bool (*handler)(ftp_session&, const std::string&);
};

// Every command of a logged-in session. The verb is compared exactly, in this
// order. QUIT and REIN never get here: the command loop handles them. Any verb
// not listed (USER after login, ABOR, EPSV, ...) is unknown.
constexpr command_entry command_table[] = {
    {"PASS", argument_rule::ignored, handle_pass},
    {"SYST", argument_rule::ignored, handle_syst},
    {"FEAT", argument_rule::ignored, handle_feat},
    {"OPTS", argument_rule::optional, handle_opts},
    {"CDUP", argument_rule::must_be_empty, handle_cdup},
    {"CWD", argument_rule::required, handle_cwd},
    {"PWD", argument_rule::must_be_empty, handle_pwd},
    {"TYPE", argument_rule::optional, handle_type},
    {"PASV", argument_rule::ignored, handle_pasv},
    {"PORT", argument_rule::required, handle_port},
    {"MLSD", argument_rule::optional, handle_mlsd},
    {"LIST", argument_rule::optional, handle_list},
    {"NLST", argument_rule::optional, handle_nlst},
    {"MLST", argument_rule::optional, handle_mlst},
    {"SIZE", argument_rule::required, handle_size},
    {"RETR", argument_rule::required, handle_retr},
    {"STOU", argument_rule::ignored, handle_stou},
    {"STOR", argument_rule::required, handle_stor},
    {"APPE", argument_rule::required, handle_appe},
    {"RNFR", argument_rule::required, handle_rnfr},
    {"RNTO", argument_rule::required, handle_rnto},
    {"DELE", argument_rule::required, handle_dele},
    {"RMD", argument_rule::required, handle_rmd},
    {"MKD", argument_rule::required, handle_mkd},
    {"MDTM", argument_rule::optional, handle_mdtm},
    {"NOOP", argument_rule::ignored, handle_noop},
    {"REST", argument_rule::required, handle_rest},
    {"AUTH", argument_rule::ignored, handle_auth},
    {"PBSZ", argument_rule::ignored, handle_pbsz},
    {"PROT", argument_rule::ignored, handle_prot},
};

bool argument_fits(argument_rule rule, const std::string& argument) {
    switch (rule) {
    case argument_rule::required:
        return !argument.empty();
    case argument_rule::must_be_empty:
        return argument.empty();
    default:
        return true;
    }
}

}  // namespace

void ftp_session::dispatch_command(const std::string& verb, const std::string& argument, bool& known) {
    for (const command_entry& entry : command_table) {
        if (verb != entry.verb) continue;
        if (!argument_fits(entry.rule, argument)) {
            reply(reply::invalid_argument_count);
            return;
        }
        known = entry.handler(*this, argument);
        return;
    }
    known = false;
}

}  // namespace ZT
