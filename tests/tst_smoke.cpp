#include "DataConnection.h"
#include "TestDatabase.h"
#include <QTemporaryDir>
#include <QTest>
class tst_smoke : public QObject { Q_OBJECT
private slots:
    void opens() {
        QTemporaryDir dir;
        TestDatabase db(dir.filePath("OLBRAData.mdb"), TestDatabase::demoSql());
        olbra::DataConnection c; c.setDataFile(db.path()); c.OpenConnection();
        QVERIFY(c.IsConnected());
        auto rs = c.GetRecordset("Select * from NHBASE where ID = 1");
        QCOMPARE(rs->Fields().Item("PRO").Value().toInteger(), 100);
        QVERIFY(rs->isUpdatable());
    }
};
QTEST_GUILESS_MAIN(tst_smoke)
#include "tst_smoke.moc"
