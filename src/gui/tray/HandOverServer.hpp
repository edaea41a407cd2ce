#pragma once

#include <QLocalServer>
#include <functional>
#include <string>
#include <vector>

namespace vesperon::gui {

// The running instance's end of the URL hand-over: accepts later starts of the
// executable on the instance socket (claimed before the module was loaded), reads
// their URLs, confirms, and hands them to `deliver` on the main thread. Only
// processes of this user are heard.
class HandOverServer final : public QObject {
  public:
    using Deliver = std::function<void(const std::vector<std::string>& urls)>;

    HandOverServer(int listeningSocket, Deliver deliver);
    bool listening() const { return server_.isListening(); }

  private:
    void accept();

    QLocalServer server_;
    Deliver deliver_;
};

} // namespace vesperon::gui
