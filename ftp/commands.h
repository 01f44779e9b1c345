// The handlers of the commands of a logged-in session. Each takes the session
// and the raw argument bytes, sends its replies itself and returns true; only
// OPTS returns false, for an option it does not serve, so that the session
// answers "502 Unknown command". Failures that a command does not answer pass on
// as exceptions and end the session without a reply.
//
// The command table that maps verbs to these handlers is in dispatch.cpp.
#pragma once

#include <string>

namespace ZT {

class ftp_session;

// Session state and questions to the file system.
bool handle_pass(ftp_session& session, const std::string& argument);
bool handle_syst(ftp_session& session, const std::string& argument);
bool handle_feat(ftp_session& session, const std::string& argument);
bool handle_opts(ftp_session& session, const std::string& argument);
bool handle_cdup(ftp_session& session, const std::string& argument);
bool handle_cwd(ftp_session& session, const std::string& argument);
bool handle_pwd(ftp_session& session, const std::string& argument);
bool handle_type(ftp_session& session, const std::string& argument);
bool handle_size(ftp_session& session, const std::string& argument);
bool handle_mdtm(ftp_session& session, const std::string& argument);
bool handle_noop(ftp_session& session, const std::string& argument);
bool handle_rest(ftp_session& session, const std::string& argument);
// AUTH, PBSZ and PROT after login; unknown (false) where the connection has no
// use for them.
bool handle_auth(ftp_session& session, const std::string& argument);
bool handle_pbsz(ftp_session& session, const std::string& argument);
bool handle_prot(ftp_session& session, const std::string& argument);

// Changes to the file tree without a data connection.
bool handle_rnfr(ftp_session& session, const std::string& argument);
bool handle_rnto(ftp_session& session, const std::string& argument);
bool handle_dele(ftp_session& session, const std::string& argument);
bool handle_rmd(ftp_session& session, const std::string& argument);
bool handle_mkd(ftp_session& session, const std::string& argument);

// Data connections, transfers and listings.
bool handle_pasv(ftp_session& session, const std::string& argument);
bool handle_port(ftp_session& session, const std::string& argument);
bool handle_mlsd(ftp_session& session, const std::string& argument);
bool handle_list(ftp_session& session, const std::string& argument);
bool handle_nlst(ftp_session& session, const std::string& argument);
bool handle_mlst(ftp_session& session, const std::string& argument);
bool handle_retr(ftp_session& session, const std::string& argument);
bool handle_stou(ftp_session& session, const std::string& argument);
bool handle_stor(ftp_session& session, const std::string& argument);
bool handle_appe(ftp_session& session, const std::string& argument);

}  // namespace ZT
