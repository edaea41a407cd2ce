// The two image renderers through the real executable, and what happens when the
// display module cannot be loaded.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "ChildProcess.hpp"
#include "TempFolder.hpp"

namespace vesperon::e2e {
namespace {

namespace fs = std::filesystem;

ProcessOutcome vesperon(const std::vector<std::string>& args,
                        const std::string& executable = VESPERON_EXECUTABLE) {
    std::vector<std::string> argv{executable};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv);
}

// Within a few steps of `expected` in every channel (antialiasing, rounding).
::testing::AssertionResult near(const QColor& actual, const QColor& expected) {
    const int tolerance = 10;
    if (std::abs(actual.red() - expected.red()) <= tolerance &&
        std::abs(actual.green() - expected.green()) <= tolerance &&
        std::abs(actual.blue() - expected.blue()) <= tolerance) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << actual.name().toStdString() << " is not near " << expected.name().toStdString();
}

class RenderCommand : public ::testing::Test {
  protected:
    testing::TempFolder temp;
    std::string path(const std::string& name) const { return temp.path() + "/" + name; }
};

// The ring's centre is 170, 373 points from the bottom-left of the 520-point panel,
// its radius 76; the image has two pixels per point.
constexpr int ringCentreX = 170 * 2, ringCentreY = (520 - 373) * 2, ringRadius = 76 * 2;
const QColor mint(99, 230, 226);
const QColor track(112, 112, 112); // white at 30 % over the dark window background

TEST_F(RenderCommand, PanelIdleAndPreviewImages) {
    const ProcessOutcome idle = vesperon({"--render-panel", path("idle.png")});
    ASSERT_EQ(idle.status, 0) << idle.err;
    EXPECT_EQ(idle.out + idle.err, "");
    const QImage idleImage(QString::fromStdString(path("idle.png")));
    EXPECT_EQ(idleImage.size(), QSize(680, 1040));
    // Idle: the bare track all round.
    EXPECT_TRUE(near(idleImage.pixelColor(ringCentreX + ringRadius, ringCentreY), track));

    // Any further argument: 42,420 of 86,400 s left, the ring just under half full,
    // emptying clockwise from the top.
    const ProcessOutcome preview = vesperon({"--render-panel", path("preview.png"), "x"});
    ASSERT_EQ(preview.status, 0) << preview.err;
    const QImage image(QString::fromStdString(path("preview.png")));
    ASSERT_EQ(image.size(), QSize(680, 1040));
    EXPECT_TRUE(near(image.pixelColor(ringCentreX + ringRadius, ringCentreY), mint));
    EXPECT_TRUE(near(image.pixelColor(ringCentreX + 54 * 2, ringCentreY - 54 * 2), mint));
    EXPECT_TRUE(near(image.pixelColor(ringCentreX - ringRadius, ringCentreY), track));
    EXPECT_TRUE(near(image.pixelColor(ringCentreX - 54 * 2, ringCentreY - 54 * 2), track));
}

TEST_F(RenderCommand, AboutWritesOnlyWithExactlyOnePath) {
    const ProcessOutcome about = vesperon({"--render-about", path("about.png")});
    ASSERT_EQ(about.status, 0) << about.err;
    EXPECT_EQ(about.out + about.err, "");
    EXPECT_EQ(QImage(QString::fromStdString(path("about.png"))).size(), QSize(800, 760));

    EXPECT_EQ(vesperon({"--render-about"}).status, 1);
    const ProcessOutcome two = vesperon({"--render-about", path("a.png"), path("b.png")});
    EXPECT_EQ(two.status, 1);
    EXPECT_FALSE(fs::exists(path("a.png")));
    EXPECT_FALSE(fs::exists(path("b.png")));
}

TEST_F(RenderCommand, OtherArgumentFormsAndUnwritablePaths) {
    // Without a path, "--render-panel" is an unknown root mode.
    const ProcessOutcome noPath = vesperon({"--render-panel"});
    EXPECT_EQ(noPath.status, 1);
    EXPECT_EQ(noPath.out, "");
    EXPECT_EQ(noPath.err, ::geteuid() == 0 ? "" : "Administrator authorization required.\n");

    const std::string unwritable = path("missing-folder/panel.png");
    for (const auto& args : std::vector<std::vector<std::string>>{{"--render-panel", unwritable},
                                                                  {"--render-about", unwritable}}) {
        const ProcessOutcome outcome = vesperon(args);
        EXPECT_EQ(outcome.status, 1) << args[0];
        EXPECT_EQ(outcome.err.rfind("vesperon: could not write " + unwritable, 0), 0u)
            << outcome.err;
        EXPECT_EQ(outcome.err.find('\n'), outcome.err.size() - 1) << outcome.err;
    }
}

// A copy of the executable in a folder without the module (or with a broken one):
// the renderers say so in one line and exit 1, the other roles never notice.
TEST_F(RenderCommand, MissingOrBrokenModuleIsOneLineForTheRenderersOnly) {
    const std::string lone = path("vesperon");
    fs::copy_file(VESPERON_EXECUTABLE, lone);
    const std::string expected = "vesperon: the display module could not be loaded: ";
    for (const bool broken : {false, true}) {
        if (broken) {
            std::ofstream(path("libvesperon-gui.so")) << "not a shared object\n";
        }
        for (const auto& args : std::vector<std::vector<std::string>>{
                 {"--render-panel", path("p.png")}, {"--render-about", path("a.png")}}) {
            const ProcessOutcome outcome = vesperon(args, lone);
            EXPECT_EQ(outcome.status, 1);
            EXPECT_EQ(outcome.err.rfind(expected, 0), 0u) << outcome.err;
            EXPECT_EQ(outcome.err.find('\n'), outcome.err.size() - 1) << outcome.err;
            if (broken) {
                EXPECT_NE(outcome.err.find("libvesperon-gui.so"), std::string::npos);
            }
        }
        const ProcessOutcome hook = vesperon({"--agent-event", "claude"}, lone);
        EXPECT_EQ(hook.status, 0);
        EXPECT_EQ(hook.out, "{}\n");
    }
    EXPECT_FALSE(fs::exists(path("p.png")));
}

} // namespace
} // namespace vesperon::e2e
