// The program as a user starts it: single instance between real processes, and the uninstall switch.

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QLocalSocket>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include "support/TProcess.h"
#include "support/TTempHome.h"

namespace fs = std::filesystem;
using tarnwick::test::RunProcess;
using tarnwick::test::TTempHome;

namespace {

class ProgramStartTest : public ::testing::Test
{
protected:
    TTempHome Home{false};
    std::string Runtime = Home / "run";
    std::vector<std::string> Env;

    void SetUp() override
    {
        fs::create_directories(Runtime);
        ::chmod(Runtime.c_str(), 0700);
        Env = {"TARNWICK_HOME=" + Home / "home", "XDG_RUNTIME_DIR=" + Runtime, "QT_QPA_PLATFORM=offscreen"};
    }

    std::unique_ptr<QProcess> StartInstance()
    {
        auto process = std::make_unique<QProcess>();
        auto env = QProcessEnvironment::systemEnvironment();
        for (const auto& entry : Env) {
            const auto eq = entry.find('=');
            env.insert(QString::fromStdString(entry.substr(0, eq)),
                       QString::fromStdString(entry.substr(eq + 1)));
        }
        process->setProcessEnvironment(env);
        process->start(QStringLiteral(TARNWICK_BIN), {});
        EXPECT_TRUE(process->waitForStarted(10000));
        return process;
    }

    // Waits until a running instance answers on its socket.
    bool WaitUntilListening()
    {
        const QString name = QString::fromStdString(Runtime + "/tarnwick.instance");
        return QTest::qWaitFor(
            [&] {
                QLocalSocket probe;
                probe.connectToServer(name);
                return probe.waitForConnected(100);
            },
            20000);
    }

    static bool WaitForHandOver(QProcess& running)
    {
        return QTest::qWaitFor(
            [&] {
                running.waitForReadyRead(50);
                return running.peek(1 << 16).contains("handed over") ||
                       running.readAllStandardError().contains("handed over");
            },
            20000);
    }
};

} // namespace

TEST_F(ProgramStartTest, SecondStartHandsOverAndAStaleSocketDoesNotBlock)
{
    auto first = StartInstance();
    first->setReadChannel(QProcess::StandardError);
    ASSERT_TRUE(WaitUntilListening());

    const auto second = RunProcess(TARNWICK_BIN, {}, {}, Env);
    EXPECT_EQ(second.Status, 0);
    EXPECT_TRUE(WaitForHandOver(*first));
    EXPECT_EQ(first->state(), QProcess::Running);

    // A crash leaves the socket file behind; the next start must run all the same.
    first->kill();
    first->waitForFinished(10000);
    ASSERT_TRUE(fs::exists(Runtime + "/tarnwick.instance"));
    auto third = StartInstance();
    third->setReadChannel(QProcess::StandardError);
    ASSERT_TRUE(WaitUntilListening());
    EXPECT_EQ(third->state(), QProcess::Running);
    const auto fourth = RunProcess(TARNWICK_BIN, {}, {}, Env);
    EXPECT_EQ(fourth.Status, 0);
    EXPECT_TRUE(WaitForHandOver(*third));
    third->terminate();
    EXPECT_TRUE(third->waitForFinished(10000));
}

TEST_F(ProgramStartTest, UninstallSwitchRemovesTheIntegrationFilesAndEnds)
{
    const struct
    {
        const char* Argument;
        bool FilesPresent;
    } cases[] = {{"\\u", true}, {"\\U", true}, {"\\u", false}};
    const fs::path bin = Home / "bin";
    fs::create_directories(bin);
    fs::copy_file(TARNWICK_BIN, bin / "tarnwick", fs::copy_options::overwrite_existing);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Argument) + (c.FilesPresent ? " with files" : " without files"));
        if (c.FilesPresent)
            for (const char* name : {"OEBridgeHost.exe", "OEToolbarAddin.dll"})
                std::ofstream(bin / name) << "x";
        const auto result = RunProcess((bin / "tarnwick").string(), {c.Argument}, {}, Env);
        EXPECT_EQ(result.Status, 0);
        EXPECT_FALSE(fs::exists(bin / "OEBridgeHost.exe"));
        EXPECT_FALSE(fs::exists(bin / "OEToolbarAddin.dll"));
        EXPECT_TRUE(fs::exists(bin / "tarnwick"));
        EXPECT_FALSE(fs::exists(Home / "home")) << "no settings are made on the way out";
    }
}
