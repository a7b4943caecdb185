#include "config/sip_cfg.hpp"
#include "core/lifecycle.hpp"
#include "registry/reg_users.hpp"

// The two global objects, built before main() in this order: the configuration record reads
// SipCfg.ini, then the registration table loads RegUsers.txt. They live in the executable only,
// so no test binary reads the files of its working directory when it starts.
TagSipCfg gSipCfg;
TagRegUsers gRegUsers;

int main() {
    return RunServer(gSipCfg, gRegUsers);
}
