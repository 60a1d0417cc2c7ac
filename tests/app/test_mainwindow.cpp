#include <QAction>
#include <QFile>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTextBrowser>
#include <QTextEdit>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include "dialogabout.h"
#include "mainwindow.h"

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    template <typename T> static T* Child(QObject* parent, const char* name)
    {
        T* child = parent->findChild<T*>(name);
        if (child == nullptr) qFatal("missing child %s", name);
        return child;
    }
    static QUPnPDevice* Record(const char* uuid, const char* name, const char* description = "A media server")
    {
        return new QUPnPDevice(uuid, name, "ACME", "urn:schemas-upnp-org:device:MediaServer:1", description);
    }
    static QStringList Fields(MainWindow& w)
    {
        return {Child<QLineEdit>(&w, "lineEditDeviceName")->text(), Child<QLineEdit>(&w, "lineEditUID")->text(),
                Child<QLineEdit>(&w, "lineEditDeviceType")->text(),
                Child<QLineEdit>(&w, "lineEditManufacturer")->text(),
                Child<QTextEdit>(&w, "textEditDescription")->toPlainText()};
    }

private slots:
    void resourceIconIsLinkedIn()
    {
        MainWindow w;
        QVERIFY(QFile::exists(":/UPnP_ico"));
        QVERIFY(!QIcon(":/UPnP_ico").availableSizes().isEmpty());
        QVERIFY(!w.windowIcon().isNull());
    }

    void formMatchesTheDesign()
    {
        MainWindow w;
        QCOMPARE(w.objectName(), QString("MainWindow"));
        QCOMPARE(w.windowTitle(), QString("Beaconry"));
        QCOMPARE(w.size(), QSize(625, 385));

        QTreeWidget* tree = Child<QTreeWidget>(&w, "treeWidget");
        QVERIFY(tree->isHeaderHidden());
        QCOMPARE(tree->columnCount(), 1);
        QCOMPARE(tree->minimumSize(), QSize(256, 0));
        QCOMPARE(tree->maximumWidth(), 400);
        QVERIFY(!tree->isSortingEnabled());

        auto* grid = Child<QGridLayout>(&w, "gridLayout_2");
        QCOMPARE(grid->spacing(), 6);
        QCOMPARE(grid->contentsMargins(), QMargins(11, 11, 11, 11));
        int row, column, row_span, column_span;
        grid->getItemPosition(grid->indexOf(tree), &row, &column, &row_span, &column_span);
        QCOMPARE(QList<int>({row, column, row_span, column_span}), QList<int>({0, 0, 2, 1}));

        const char* labels[][2] = {{"labelDeviceName", "Device Name:"}, {"labelUID", "UID:"},
                                   {"labelDeviceType", "Type:"}, {"labelManufacturer", "Manufacturer:"},
                                   {"labelDescription", "Description:"}};
        auto* fields = Child<QGridLayout>(&w, "gridLayout");
        for (int i = 0; i < 5; i++) {
            QLabel* label = Child<QLabel>(&w, labels[i][0]);
            QCOMPARE(label->text(), QString(labels[i][1]));
            fields->getItemPosition(fields->indexOf(label), &row, &column, &row_span, &column_span);
            QCOMPARE(row, i);
            QCOMPARE(column, 0);
        }
        QTextEdit* description = Child<QTextEdit>(&w, "textEditDescription");
        QCOMPARE(description->minimumWidth(), 100);
        QCOMPARE(description->maximumHeight(), 100);

        QCOMPARE(Child<QAction>(&w, "actionQuit")->text(), QString("Exit"));
        QCOMPARE(Child<QAction>(&w, "actionAbout")->text(), QString("About..."));
        QMenuBar* bar = Child<QMenuBar>(&w, "menuBar");
        QList<QAction*> menus = bar->actions();
        QCOMPARE(menus.size(), 2);
        QCOMPARE(menus[0]->menu()->objectName(), QString("menuFile"));
        QCOMPARE(menus[0]->text(), QString("File"));
        QCOMPARE(menus[1]->menu()->objectName(), QString("menuHelp"));
        QCOMPARE(menus[1]->text(), QString("Help"));
        QCOMPARE(menus[0]->menu()->actions(), QList<QAction*>({Child<QAction>(&w, "actionQuit")}));
        QCOMPARE(menus[1]->menu()->actions(), QList<QAction*>({Child<QAction>(&w, "actionAbout")}));
        QVERIFY(w.findChild<QStatusBar*>("statusBar") != nullptr);
    }

    void slotsHaveTheirIndexes()
    {
        const QMetaObject* meta = &MainWindow::staticMetaObject;
        int base = meta->methodOffset();
        QCOMPARE(meta->methodCount() - base, 3);
        QCOMPARE(QByteArray(meta->method(base + 0).methodSignature()), QByteArray("SlotClose()"));
        QCOMPARE(QByteArray(meta->method(base + 1).methodSignature()), QByteArray("SlotOpenAbout()"));
        QCOMPARE(QByteArray(meta->method(base + 2).methodSignature()), QByteArray("SlotItemSelectionChanged()"));
    }

    void startsEmptyWithReadOnlyFields()
    {
        MainWindow w;
        QCOMPARE(Child<QTreeWidget>(&w, "treeWidget")->topLevelItemCount(), 0);
        QCOMPARE(Fields(w), QStringList({"", "", "", "", ""}));
        for (const char* name : {"lineEditDeviceName", "lineEditUID", "lineEditDeviceType", "lineEditManufacturer"}) {
            QVERIFY2(Child<QLineEdit>(&w, name)->isReadOnly(), name);
        }
        QVERIFY(Child<QTextEdit>(&w, "textEditDescription")->isReadOnly());
    }

    void sameRecordTwiceIsListedOnce()
    {
        MainWindow w;
        QTreeWidget* tree = Child<QTreeWidget>(&w, "treeWidget");
        w.InsertDevice(Record("uuid:1", "Living room"));
        w.InsertDevice(Record("uuid:1", "Living room"));
        QCOMPARE(tree->topLevelItemCount(), 1);
        QCOMPARE(tree->topLevelItem(0)->text(0), QString("Living room"));
        // a difference in any other field counts as well
        w.InsertDevice(Record("uuid:1", "Living room", "changed"));
        QCOMPARE(tree->topLevelItemCount(), 2);
    }

    void recordsDifferingInNameAreListedTwiceInArrivalOrder()
    {
        MainWindow w;
        QTreeWidget* tree = Child<QTreeWidget>(&w, "treeWidget");
        w.InsertDevice(Record("uuid:1", "Zebra"));
        w.InsertDevice(Record("uuid:1", "Aardvark"));
        w.InsertDevice(Record("uuid:2", ""));
        QCOMPARE(tree->topLevelItemCount(), 3);
        QCOMPARE(tree->topLevelItem(0)->text(0), QString("Zebra"));
        QCOMPARE(tree->topLevelItem(1)->text(0), QString("Aardvark"));
        QCOMPARE(tree->topLevelItem(2)->text(0), QString(""));
        QCOMPARE(tree->topLevelItem(2)->childCount(), 0);
    }

    void selectionFillsAndClearingEmptiesTheFields()
    {
        MainWindow w;
        QTreeWidget* tree = Child<QTreeWidget>(&w, "treeWidget");
        w.InsertDevice(new QUPnPDevice("uuid:abc", "Kitchen", "Maker Inc", "urn:x:device:MediaRenderer:1",
                                       "Line one\nline two <b>not bold</b>"));
        w.InsertDevice(new QUPnPDevice("uuid:def", "Hall", "Other", "urn:x:device:MediaServer:1", ""));
        tree->setCurrentItem(tree->topLevelItem(0));
        QCOMPARE(Fields(w), QStringList({"Kitchen", "uuid:abc", "urn:x:device:MediaRenderer:1", "Maker Inc",
                                         "Line one\nline two <b>not bold</b>"}));

        tree->setCurrentItem(tree->topLevelItem(1));
        QCOMPARE(Fields(w), QStringList({"Hall", "uuid:def", "urn:x:device:MediaServer:1", "Other", ""}));

        tree->setCurrentItem(nullptr);
        tree->clearSelection();
        QCOMPARE(Fields(w), QStringList({"", "", "", "", ""}));
    }

    void itemWithoutRecordIsSkippedAndClearsFields()
    {
        MainWindow w;
        QTreeWidget* tree = Child<QTreeWidget>(&w, "treeWidget");
        tree->addTopLevelItem(new QTreeWidgetItem(QStringList("stray")));
        w.InsertDevice(Record("uuid:1", "Real"));
        QCOMPARE(tree->topLevelItemCount(), 2);
        tree->setCurrentItem(tree->topLevelItem(1));
        QCOMPARE(Fields(w)[0], QString("Real"));
        tree->setCurrentItem(tree->topLevelItem(0));
        QCOMPARE(Fields(w), QStringList({"", "", "", "", ""}));
    }

    void insertionFromAnotherThreadArrivesThroughTheEventLoop()
    {
        MainWindow w;
        QTreeWidget* tree = Child<QTreeWidget>(&w, "treeWidget");
        QThread* worker = QThread::create([&w]() {
            for (int i = 0; i < 50; i++) w.InsertDevice(Record("uuid:t", "From a thread"));
            w.InsertDevice(Record("uuid:u", "Second"));
        });
        worker->start();
        QVERIFY(worker->wait(10000));
        delete worker;
        // nothing touched the widgets from the worker thread
        QCOMPARE(tree->topLevelItemCount(), 0);
        QTRY_COMPARE(tree->topLevelItemCount(), 2);
        QCOMPARE(tree->topLevelItem(0)->text(0), QString("From a thread"));
        QCOMPARE(tree->topLevelItem(1)->text(0), QString("Second"));
    }

    void windowClosedWithInsertionsStillQueued()
    {
        // the records of calls that never ran go with the window (checked for
        // leaks under valgrind); nothing may touch the window afterwards
        MainWindow* w      = new MainWindow();
        QThread*    worker = QThread::create([w]() {
            for (int i = 0; i < 20; i++) w->InsertDevice(Record("uuid:late", "Late"));
        });
        worker->start();
        QVERIFY(worker->wait(10000));
        delete worker;
        delete w;
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
    }

    void aboutBoxIsBuiltAsDesigned()
    {
        DialogAbout about;
        QCOMPARE(about.objectName(), QString("DialogAbout"));
        QCOMPARE(about.windowTitle(), QString("About Beaconry"));
        QCOMPARE(about.size(), QSize(344, 239));
        QCOMPARE(about.minimumSize(), QSize(344, 239));
        QCOMPARE(about.maximumSize(), QSize(344, 239));
        QVERIFY(!(about.windowFlags() & Qt::WindowContextHelpButtonHint));
        QVERIFY(!about.windowIcon().isNull());

        QLabel* name = Child<QLabel>(&about, "labelAppName");
        QCOMPARE(name->text(), QString("Beaconry"));
        QVERIFY(name->font().bold());
        QCOMPARE(Child<QLabel>(&about, "labelVersion")->text(), QString("Version: 1.0.0 (Corvid 1.0.5.13)"));
        QVERIFY(!Child<QLabel>(&about, "labelCopyright")->text().isEmpty());
        QVERIFY(!Child<QLabel>(&about, "labelAuthor")->text().isEmpty());

        QLabel* link = Child<QLabel>(&about, "labelLink");
        QVERIFY(link->openExternalLinks());
        QVERIFY(link->text().contains("<a href="));
        QVERIFY(link->text().contains("#325ab4"));
        QVERIFY(link->text().contains("8pt"));

        QTextBrowser* browser = Child<QTextBrowser>(&about, "textBrowser");
        QVERIFY(browser->toPlainText().contains("UPnP media servers"));
        QCOMPARE(browser->toHtml().count("<p"), 3);

        about.show();
        QVERIFY(about.isVisible());
        QTest::mouseClick(Child<QPushButton>(&about, "pushButtonOk"), Qt::LeftButton);
        QVERIFY(!about.isVisible());
    }

    void aboutMenuOpensAModalBoxThatOkCloses()
    {
        MainWindow w;
        w.show();
        bool seen = false;
        QTimer::singleShot(0, [&seen]() {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal && modal->objectName() == "DialogAbout") {
                seen = true;
                QTest::mouseClick(modal->findChild<QPushButton*>("pushButtonOk"), Qt::LeftButton);
            } else if (modal) {
                modal->close();
            }
        });
        Child<QAction>(&w, "actionAbout")->trigger();
        QVERIFY(seen);
        QCOMPARE(w.findChildren<DialogAbout*>().size(), 0); // destroyed after exec
    }

    void exitClosesTheWindow()
    {
        MainWindow w;
        w.show();
        QVERIFY(w.isVisible());
        Child<QAction>(&w, "actionQuit")->trigger();
        QVERIFY(!w.isVisible());
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
