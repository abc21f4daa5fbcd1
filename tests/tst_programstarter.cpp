// Where a program named by its bare file name is found: the program folder first, then the search
// path's absolute entries, and never the working folder.
#include "ProgramStarter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class tst_ProgramStarter : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void findProgram_data();
    void findProgram();

private:
    QString expand(QString text) const { return text.replace(QLatin1Char('@'), m_root.path()); }

    QTemporaryDir m_root;
    QString m_workingFolder;
};

void tst_ProgramStarter::initTestCase()
{
    QVERIFY(m_root.isValid());
    QDir root(m_root.path());
    for (const char *folder : {"prog", "bin1", "bin2", "plain", "work", "folder/OLBRA.exe", "links"})
        QVERIFY(root.mkpath(QLatin1String(folder)));

    const auto make = [&](const char *path, bool executable) {
        QFile file(root.filePath(QLatin1String(path)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\nexit 0\n");
        file.close();
        QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
        if (executable)
            permissions |= QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
        QVERIFY(file.setPermissions(permissions));
    };
    make("prog/OLBRA.exe", true);
    make("prog/Readme.txt", false);
    make("bin1/OLBRA.exe", true);
    make("bin1/tool", true);
    make("bin2/OLBRA.exe", true);
    make("bin2/tool", true);
    make("bin2/other", true);
    make("plain/OLBRA.exe", false); // not executable
    make("plain/other", false);
    make("work/OLBRA.exe", true); // a program planted in the working folder
    make("work/other", true);
    QVERIFY(QFile::link(root.filePath(QStringLiteral("bin2/other")), root.filePath(QStringLiteral("links/linked"))));

    // The working folder holds a planted program, and the search path's relative entries that
    // the cases use resolve from it.
    m_workingFolder = QDir::currentPath();
    QVERIFY(QDir::setCurrent(root.filePath(QStringLiteral("work"))));
    QVERIFY(QFile::link(root.filePath(QStringLiteral("bin1")), root.filePath(QStringLiteral("work/bin1"))));
}

void tst_ProgramStarter::cleanupTestCase() { QDir::setCurrent(m_workingFolder); }

void tst_ProgramStarter::findProgram_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("programFolder"); // @ stands for the test's folder
    QTest::addColumn<QString>("searchPath");
    QTest::addColumn<QString>("found");

    QTest::newRow("in the program folder") << "OLBRA.exe" << "@/prog" << "" << "@/prog/OLBRA.exe";
    QTest::newRow("program folder before the path") << "OLBRA.exe" << "@/prog" << "@/bin1:@/bin2" << "@/prog/OLBRA.exe";
    QTest::newRow("first entry of the path") << "OLBRA.exe" << "@/plain" << "@/bin1:@/bin2" << "@/bin1/OLBRA.exe";
    QTest::newRow("later entry of the path") << "other" << "@/prog" << "@/bin1:@/bin2" << "@/bin2/other";
    QTest::newRow("no program folder") << "tool" << "" << "@/bin2:@/bin1" << "@/bin2/tool";
    QTest::newRow("path entry ending in a slash") << "tool" << "" << "@/bin1/" << "@/bin1/tool";
    QTest::newRow("path entry that does not exist") << "tool" << "" << "@/none:@/bin2" << "@/bin2/tool";
    QTest::newRow("through a link") << "linked" << "" << "@/links" << "@/links/linked";

    QTest::newRow("not executable in the program folder") << "OLBRA.exe" << "@/plain" << "@/bin2" << "@/bin2/OLBRA.exe";
    QTest::newRow("not executable anywhere") << "other" << "@/plain" << "@/plain:@/prog" << "";
    QTest::newRow("a folder of that name") << "OLBRA.exe" << "@/folder" << "@/folder:@/bin2" << "@/bin2/OLBRA.exe";
    QTest::newRow("a file that is not the program") << "Readme.txt" << "@/prog" << "@/bin1" << "";
    QTest::newRow("found nowhere") << "missing.exe" << "@/prog" << "@/bin1:@/bin2" << "";

    // The working folder, which holds a planted OLBRA.exe and other, is never searched.
    QTest::newRow("empty path") << "other" << "" << "" << "";
    QTest::newRow("empty entry alone") << "other" << "" << ":" << "";
    QTest::newRow("empty entry first") << "OLBRA.exe" << "@/plain" << ":@/bin2" << "@/bin2/OLBRA.exe";
    QTest::newRow("empty entry in the middle") << "OLBRA.exe" << "@/plain" << "@/plain::@/bin2" << "@/bin2/OLBRA.exe";
    QTest::newRow("empty entry last") << "other" << "" << "@/plain:" << "";
    QTest::newRow("dot entry") << "other" << "" << ".:@/plain" << "";
    QTest::newRow("relative entry") << "tool" << "" << "bin1:@/bin2" << "@/bin2/tool";
    QTest::newRow("relative program folder") << "tool" << "bin1" << "@/bin2" << "@/bin2/tool";
    QTest::newRow("dot program folder") << "other" << "." << "" << "";

    QTest::newRow("a name with a folder") << "bin1/tool" << "@" << "@" << "";
    QTest::newRow("an absolute name") << "@/bin1/tool" << "" << "@/bin1" << "";
    QTest::newRow("no name") << "" << "@/prog" << "@/bin1" << "";
    QTest::newRow("the parent folder as a name") << ".." << "@/prog" << "@/bin1" << "";
}

void tst_ProgramStarter::findProgram()
{
    QFETCH(QString, name);
    QFETCH(QString, programFolder);
    QFETCH(QString, searchPath);
    QFETCH(QString, found);

    QCOMPARE(olbra::findProgram(expand(name), expand(programFolder), expand(searchPath)), expand(found));
}

QTEST_GUILESS_MAIN(tst_ProgramStarter)
#include "tst_programstarter.moc"
