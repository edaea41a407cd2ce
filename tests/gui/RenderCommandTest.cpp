// The two image renderers through the real executable.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "SandboxedMachine.hpp"

namespace vesperon::e2e {
namespace {

namespace fs = std::filesystem;

ProcessOutcome vesperon(const std::vector<std::string>& args) {
    std::vector<std::string> argv{VESPERON_EXECUTABLE};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv);
}

// Within a few steps of `expected` in every channel (antialiasing, rounding).
bool near(const QColor& actual, const QColor& expected) {
    return std::abs(actual.red() - expected.red()) <= 10 &&
           std::abs(actual.green() - expected.green()) <= 10 &&
           std::abs(actual.blue() - expected.blue()) <= 10;
}

class RenderCommand : public ::testing::Test {
  protected:
    TempFolder temp;
    std::string path(const std::string& name) const { return temp / name; }
};

// The ring's centre is 170, 373 points from the bottom-left of the 520-point panel,
// its radius 76; the image has two pixels per point.
constexpr int ringX = 170 * 2, ringY = (520 - 373) * 2, ringRadius = 76 * 2;
const QColor mint(99, 230, 226);
const QColor track(112, 112, 112); // white at 30 % over the dark window background

TEST_F(RenderCommand, PanelAndAboutImagesAndTooManyPaths) {
    // Idle: the bare track all round. With any further argument, a preview: 42,420 of
    // 86,400 s left, the ring just under half full, emptying clockwise from the top.
    for (const bool preview : {false, true}) {
        const ProcessOutcome done = preview ? vesperon({"--render-panel", path("panel.png"), "x"})
                                            : vesperon({"--render-panel", path("panel.png")});
        ASSERT_EQ(done.status, 0) << done.err;
        EXPECT_EQ(done.out + done.err, "");
        const QImage image(QString::fromStdString(path("panel.png")));
        ASSERT_EQ(image.size(), QSize(680, 1040));
        const auto at = [&](int dx, int dy) { return image.pixelColor(ringX + dx, ringY + dy); };
        EXPECT_TRUE(near(at(ringRadius, 0), preview ? mint : track)) << preview;
        EXPECT_TRUE(near(at(108, -108), preview ? mint : track)) << preview;
        EXPECT_TRUE(near(at(-ringRadius, 0), track) && near(at(-108, -108), track)) << preview;
    }
    const ProcessOutcome about = vesperon({"--render-about", path("about.png")});
    ASSERT_EQ(about.status, 0) << about.err;
    EXPECT_EQ(about.out + about.err, "");
    EXPECT_EQ(QImage(QString::fromStdString(path("about.png"))).size(), QSize(800, 760));

    EXPECT_EQ(vesperon({"--render-about", path("a.png"), path("b.png")}).status, 1);
    EXPECT_FALSE(fs::exists(path("a.png")) || fs::exists(path("b.png")));
}

// The image replaces only a regular file of the caller's, never a link's target.
TEST_F(RenderCommand, WritesOnlyOverItsOwnRegularFile) {
    const std::string target = path("target"), link = path("link.png");
    std::ofstream(target) << "precious\n";
    fs::create_symlink(target, link);
    for (const auto& args : std::vector<std::vector<std::string>>{{"--render-panel", link},
                                                                  {"--render-about", link}}) {
        const ProcessOutcome outcome = vesperon(args);
        EXPECT_EQ(outcome.status, 1) << args[0];
        EXPECT_TRUE(outcome.err.starts_with("vesperon: could not write " + link)) << outcome.err;
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_EQ(readFile(target), "precious\n");
    }
    fs::create_directory(path("folder.png"));
    EXPECT_EQ(vesperon({"--render-about", path("folder.png")}).status, 1);
    EXPECT_TRUE(fs::is_directory(path("folder.png")));
    if (::geteuid() == 0) { // only root can give a file to another user
        const std::string theirs = path("theirs.png");
        std::ofstream(theirs) << "theirs\n";
        ASSERT_EQ(::chown(theirs.c_str(), 4242, 4242), 0);
        EXPECT_EQ(vesperon({"--render-panel", theirs}).status, 1);
        EXPECT_EQ(readFile(theirs), "theirs\n");
    }
    std::ofstream(path("mine.png")) << "old\n"; // its own file is replaced
    EXPECT_EQ(vesperon({"--render-about", path("mine.png")}).status, 0);
    EXPECT_EQ(QImage(QString::fromStdString(path("mine.png"))).size(), QSize(800, 760));
}

} // namespace
} // namespace vesperon::e2e
