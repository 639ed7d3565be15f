// The real program, started as a user would start it.
#include "support.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace korvane {
namespace {

struct Run {
    bool finished;
    int status;
    std::string err;
};

// `language`: the locale the program is started in (LANG, with nothing
// above it); without a runtime directory, as in a root shell or over su.
Run runKorvane(const QStringList& args, int waitMs = 5000, const QString& language = "C", bool runtimeDir = true)
{
    QProcess process;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    for (const char* above : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"})
        env.remove(above);
    env.insert("LANG", language);
    if (runtimeDir)
        env.insert("XDG_RUNTIME_DIR", QString::fromStdString(test::tempDir())); // as a session has one
    else
        env.remove("XDG_RUNTIME_DIR");
    process.setProcessEnvironment(env);
    process.start(KORVANE_BINARY, args);
    process.waitForStarted();
    const bool finished = process.waitForFinished(waitMs);
    if (!finished) {
        process.kill();
        process.waitForFinished();
    }
    return {finished, process.exitCode(), process.readAllStandardError().toStdString()};
}

void expectRefused(const QStringList& args, const std::string& named, const std::string& reason)
{
    const Run run = runKorvane(args);
    ASSERT_TRUE(run.finished) << "still running";
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(named), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
}

TEST(Program, EndsWithOneClearLineForFilesItCannotShow)
{
    const std::string dir = test::tempDir();
    expectRefused({QString::fromStdString(dir + "/none.png")}, dir + "/none.png", "no such file");
    expectRefused({QString::fromStdString(dir)}, dir, "is a directory");
    expectRefused({QString::fromStdString(test::writeBytes("zero.jpg", ""))}, "zero.jpg", "is empty");
    expectRefused({QString::fromStdString(test::writeBytes("text.jpg", "hello\n"))}, "text.jpg",
        "not an image");
    const std::string fifo = dir + "/fifo.png";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    expectRefused({QString::fromStdString(fifo)}, fifo, "pipe");
    // Qt's own warnings (here: no runtime directory) never join the line.
    EXPECT_EQ(runKorvane({QString::fromStdString(dir + "/none.png")}, 5000, "C", false).err,
        "korvane: cannot open '" + dir + "/none.png': no such file\n");
}

TEST(Program, GivesItsReasonInTheLanguageOfTheLocale)
{
    const std::string missing = test::tempDir() + "/missing.png";
    EXPECT_EQ(runKorvane({QString::fromStdString(missing)}, 5000, "ja_JP.UTF-8").err,
        "korvane: '" + missing + "' を開けません: そのようなファイルはありません\n");
    EXPECT_EQ(runKorvane({QString::fromStdString(missing)}, 5000, "C").err,
        "korvane: cannot open '" + missing + "': no such file\n");
    // A picture is decoded while the application starts: its reason is in
    // the locale's language too, with its numbers filled in. This TGA
    // header claims 65535 x 65535 run-length pixels and has no data.
    const std::string header{0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, '\xFF', '\xFF', '\xFF', '\xFF', 24, 0x20};
    const std::string huge = test::writeBytes("huge.tga", header);
    EXPECT_EQ(runKorvane({QString::fromStdString(huge)}, 5000, "ja_JP.UTF-8").err, "korvane: '" + huge + "' を開けません: 壊れているか途中で切れています: ヘッダーは 65535 x 65535 "
                            "ピクセルとしていますが、ファイルは 18 バイトしかありません\n");
}

TEST(Program, TakesNoArgumentAsAQtOption)
{
    expectRefused({"-platform", "xcb"}, "'-platform xcb'", "no such file");
    expectRefused({"-reverse"}, "'-reverse'", "no such file");
}

TEST(Program, KeepsRunningOnAPictureAndOnAnEmptyCommandLine)
{
    const std::string path = test::writeImage(test::coordinateImage(640, 480), "ok.png", "png");
    EXPECT_FALSE(runKorvane({QString::fromStdString(path)}, 1500).finished);
    EXPECT_FALSE(runKorvane({}, 1500).finished);
}

} // namespace
} // namespace korvane
