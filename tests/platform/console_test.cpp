#include "platform/console.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <pty.h>
#include <unistd.h>

#include "testutil/capture.h"

namespace zarbel {
namespace {

using testutil::Capture;

TEST(Console, EncodingFromLocaleVariables) {
    using E = ConsoleEncoding;
    // CP866 (or IBM866) in the first non-empty variable means OEM...
    EXPECT_EQ(ConsoleEncodingFromLocale("ru_RU.CP866", nullptr, nullptr), E::Oem);
    EXPECT_EQ(ConsoleEncodingFromLocale("", "ru_RU.ibm-866@x", "C.UTF-8"), E::Oem);
    EXPECT_EQ(ConsoleEncodingFromLocale(nullptr, nullptr, "ru_RU.Cp_866"), E::Oem);
    EXPECT_EQ(ConsoleEncodingFromLocale("C.UTF-8", "ru_RU.CP866", "ru_RU.CP866"), E::Utf8);  // first decides
    // ...and everything else, nothing included, UTF-8.
    EXPECT_EQ(ConsoleEncodingFromLocale("C.UTF-8", nullptr, nullptr), E::Utf8);
    EXPECT_EQ(ConsoleEncodingFromLocale("C", "ru_RU.CP866", nullptr), E::Utf8);
    EXPECT_EQ(ConsoleEncodingFromLocale("POSIX", nullptr, nullptr), E::Utf8);
    EXPECT_EQ(ConsoleEncodingFromLocale(nullptr, nullptr, nullptr), E::Utf8);
    EXPECT_EQ(ConsoleEncodingFromLocale("", "", ""), E::Utf8);
    EXPECT_EQ(ConsoleEncodingFromLocale("ru_RU.KOI8-R", nullptr, nullptr), E::Utf8);
    EXPECT_EQ(ConsoleEncodingFromLocale("CP866", nullptr, nullptr), E::Utf8);  // no charset part
}

TEST(Console, LinesInTheConsolesEncoding) {
    Capture out, err;
    {
        Console utf(out.fd(), err.fd(), ConsoleEncoding::Utf8, false);
        utf.WriteLine("\x8D\xA5\xE2 ok");  // "Нет ok" in CP866
        utf.Write("\xF0");
        utf.WriteLine("");
        utf.WriteErrorLine("\x8E\xE8");  // "Ош"
    }
    EXPECT_EQ(out.Text(), "Нет ok\nЁ\n");
    EXPECT_EQ(err.Text(), "Ош\n");
    Capture out2, err2;
    {
        Console oem(out2.fd(), err2.fd(), ConsoleEncoding::Oem, false);
        oem.WriteLine("\x8D\xA5\xE2 ok");
    }
    EXPECT_EQ(out2.Text(), "\x8D\xA5\xE2 ok\n");
}

TEST(Console, FileNamesShowAsTheConsoleBestCan) {
    Capture out, err;
    Console utf(out.fd(), err.fd(), ConsoleEncoding::Utf8, false);
    utf.WriteWithName("\x8F:", "«中ёж».dbf", "!", true);
    utf.WriteWithName("", "\xC0\xE1", "", false);  // not UTF-8: taken as CP1251
    EXPECT_EQ(out.Text(), "П:«中ёж».dbf!\nАб");
    Capture out2, err2;
    Console oem(out2.fd(), err2.fd(), ConsoleEncoding::Oem, false);
    oem.WriteWithName("\x8F:", "«中ёж».dbf", "!", true);
    EXPECT_EQ(out2.Text(), "\x8F:??\xF1\xA6?.dbf!\n");  // « 中 » have no CP866 form
}

TEST(Console, StatusOnlyOnATerminalAfterInit) {
    Capture out, err;
    {
        Console c(out.fd(), err.fd(), ConsoleEncoding::Utf8, false);
        c.InitConsole();
        c.ShowStatus("1 / 2 / 0:00:01");
        c.FlushStatus();
        c.WriteLine("x");
    }
    EXPECT_EQ(out.Text(), "x\n");  // redirected output holds no status bytes
    Capture out2, err2;
    {
        Console c(out2.fd(), err2.fd(), ConsoleEncoding::Utf8, true);
        c.ShowStatus("before init");
    }
    EXPECT_EQ(out2.Text(), "");
}

TEST(Console, InitConsoleFindsOutWhetherTheOutputIsATerminal) {
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) GTEST_SKIP() << "no pseudo-terminal here";
    {
        Console c(slave, slave);
        EXPECT_FALSE(c.IsTerminal());
        c.InitConsole();
        EXPECT_TRUE(c.IsTerminal());
        c.ShowStatus("7 / 9");
        char buf[256];
        ssize_t n = read(master, buf, sizeof buf);
        ASSERT_GT(n, 0);
        EXPECT_NE(std::string(buf, static_cast<std::size_t>(n)).find("\x1b[97;101m7 / 9"), std::string::npos);
    }
    close(master);
    close(slave);
    Capture out, err;
    Console f(out.fd(), err.fd());
    f.InitConsole();
    EXPECT_FALSE(f.IsTerminal());
    f.ShowStatus("x");
    EXPECT_EQ(out.Text(), "");
}

TEST(Console, StatusBytesSaveMovePaintRestore) {
    Capture out, err;
    Console c(out.fd(), err.fd(), ConsoleEncoding::Utf8, true);
    c.InitConsole();
    const std::string expected = "\x1b" "7\x1b[1;1H\x1b[97;101m5 / 5 / 0:00:00\x1b[0m \x1b" "8";
    EXPECT_EQ(c.StatusBytes("5 / 5 / 0:00:00"), expected);
    c.ShowStatus("5 / 5 / 0:00:00");
    EXPECT_EQ(out.Text(), expected);
    // ANSI text: converted on a UTF-8 console, raw on an OEM one.
    EXPECT_NE(c.StatusBytes("\xC0").find("А"), std::string::npos);
    Console oem(out.fd(), err.fd(), ConsoleEncoding::Oem, true);
    EXPECT_NE(oem.StatusBytes("\xC0").find('\xC0'), std::string::npos);
}

TEST(Console, StatusThrottledButLastStateAlwaysDrawn) {
    Capture out, err;
    Console c(out.fd(), err.fd(), ConsoleEncoding::Utf8, true);
    c.InitConsole();
    c.SetStatusInterval(std::chrono::milliseconds(10000));
    for (int i = 1; i <= 1000; ++i) c.ShowStatus(std::to_string(i) + " / 1000");
    // The first state is drawn at once, the rest wait.
    EXPECT_EQ(out.Text(), c.StatusBytes("1 / 1000"));
    c.FlushStatus();
    EXPECT_EQ(out.Text(), c.StatusBytes("1 / 1000") + c.StatusBytes("1000 / 1000"));
    c.FlushStatus();  // nothing pending: nothing drawn
    EXPECT_EQ(out.Text(), c.StatusBytes("1 / 1000") + c.StatusBytes("1000 / 1000"));
    // A pending state is drawn before the next line, so the line follows the final state.
    c.ShowStatus("x");
    c.WriteLine("done");
    EXPECT_EQ(out.Text(), c.StatusBytes("1 / 1000") + c.StatusBytes("1000 / 1000") + c.StatusBytes("x") + "done\n");
}

TEST(Console, StatusRedrawnAfterTheInterval) {
    Capture out, err;
    Console c(out.fd(), err.fd(), ConsoleEncoding::Utf8, true);
    c.InitConsole();
    c.SetStatusInterval(std::chrono::milliseconds(20));
    c.ShowStatus("a");
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    c.ShowStatus("b");
    EXPECT_EQ(out.Text(), c.StatusBytes("a") + c.StatusBytes("b"));
}

TEST(Console, PendingStatusDrawnAtDestruction) {
    Capture out, err;
    std::string expected;
    {
        Console c(out.fd(), err.fd(), ConsoleEncoding::Utf8, true);
        c.InitConsole();
        c.SetStatusInterval(std::chrono::milliseconds(10000));
        c.ShowStatus("1");
        c.ShowStatus("2");
        expected = c.StatusBytes("1") + c.StatusBytes("2");
    }
    EXPECT_EQ(out.Text(), expected);
}

}  // namespace
}  // namespace zarbel
