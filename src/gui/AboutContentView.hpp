#pragma once

#include <QWidget>
#include <functional>
#include <string>

#include "gui/Appearance.hpp"

class QPushButton;

namespace vesperon::gui {

// The About window's content: the application icon, the name, the version, the
// maker's credit line and three buttons (the source repository, e-mail support and
// Done). A 400 x 380 point view; Escape and Done close its window, Return is Done.
class AboutContentView final : public QWidget {
  public:
    static constexpr int width = 400;
    static constexpr int height = 380;

    // `openLink` opens the repository's web address or the support "mailto:" link.
    using LinkOpener = std::function<void(const std::string& url)>;

    explicit AboutContentView(const Appearance& appearance, const LinkOpener& openLink = {},
                              QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void closeAbout();

    QPushButton* doneButton_;
};

} // namespace vesperon::gui
