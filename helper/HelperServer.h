#pragma once

#include "helper/HelperTool.h"
#include "helper/PeerAuthoriser.h"
#include "helper/SystemLog.h"

namespace tw {

// Accepts connections on the helper's listening socket and serves each on its own thread, so
// that one slow command holds up only its own client.
class HelperServer {
  public:
    HelperServer(HelperTool& tool, const PeerAuthoriser& authoriser, SystemLog& log)
        : tool_(tool), authoriser_(authoriser), log_(log) {}

    // Runs until accepting fails for a reason that waiting cannot cure; the objects given to the
    // constructor must outlive the process's connection threads.
    void run(int listener);

  private:
    void serveOnNewThread(int connection);

    HelperTool& tool_;
    const PeerAuthoriser& authoriser_;
    SystemLog& log_;
};

}  // namespace tw
