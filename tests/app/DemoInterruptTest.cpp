// The main job's demonstration stopped with Ctrl-C in the middle of the day.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <csignal>

#include "support/TempDir.h"

TEST(DemoInterruptTest, CtrlCEndsTheDayAtOnceWithOneHonestLine) {
    TempDir folder;
    QProcess demo;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "ORVANE_TIME_SCALE"})
        environment.remove(QString::fromLatin1(name));
    environment.insert("HOME", QString::fromStdString(folder.str()));
    demo.setProcessEnvironment(environment);
    demo.setWorkingDirectory(QString::fromStdString(folder.str()));
    demo.start(QStringLiteral(ORVANE_LAB_DEMO),
               {"--phone", ORVANE_PROGRAM, "--folder", QString::fromStdString(folder.str() + "/phone"), "--talk", "30"});
    ASSERT_TRUE(demo.waitForStarted(10000));
    std::string output;
    QElapsedTimer clock;
    clock.start();
    while (output.find("the customer and the agent talk") == std::string::npos && clock.elapsed() < 60000 &&
           demo.state() == QProcess::Running) {
        demo.waitForReadyRead(200);
        output += demo.readAllStandardOutput().toStdString();
    }
    ASSERT_NE(output.find("the customer and the agent talk"), std::string::npos) << output;

    clock.restart();
    ::kill(static_cast<pid_t>(demo.processId()), SIGINT);
    ASSERT_TRUE(demo.waitForFinished(10000));
    const qint64 taken = clock.elapsed();
    const std::string after = demo.readAllStandardOutput().toStdString();
    EXPECT_EQ(demo.exitCode(), 130);
    EXPECT_LE(taken, 5000) << "the lab gives the phone 1.7 s to close";
    EXPECT_TRUE(after == "lab: demo stopped (Ctrl-C): the phone closed cleanly\n" ||
                after == "lab: demo stopped (Ctrl-C): the phone did not close within 1.7 s and was killed\n")
        << after;
    std::printf("Ctrl-C to the end of the demo: %lld ms\n", static_cast<long long>(taken));
}
