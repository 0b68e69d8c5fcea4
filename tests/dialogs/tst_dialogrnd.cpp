#include "core/batchrequest.h"
#include "fractal/dialogfbm.h"
#include "random/dialogrnd.h"
#include "settings/setings.h"

#include "tests/dialogs/contextmarkingtranslator.h"
#include "tests/dialogs/formprobe.h"
#include "tests/support/chooseranswer.h"
#include "tests/support/settings.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

class TestDialogRnd : public QObject {
    Q_OBJECT

private:
    static QSpinBox *spin(const DialogRnd &dialog, const char *name)
    {
        return dialog.findChild<QSpinBox *>(QLatin1String(name));
    }

    ScratchSettings m_settings;

private Q_SLOTS:
    void init()
    {
        m_settings.clear();
        // A slot whose name matches no signal is only reported as a warning.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("connectSlotsByName")));
    }

    void window()
    {
        DialogRnd dialog;
        QCOMPARE(dialog.objectName(), "DialogRnd");
        QCOMPARE(dialog.windowTitle(), "Random landscapes settings");
        QCOMPARE(dialog.size(), QSize(599, 257));
        QCOMPARE(dialog.maximumSize(), QSize(16000, 300));
        QCOMPARE(dialog.sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
        QCOMPARE(dialog.sizePolicy().verticalPolicy(), QSizePolicy::Maximum);
    }

    void layoutOrder()
    {
        DialogRnd dialog;
        auto *main = dialog.findChild<QVBoxLayout *>(QStringLiteral("verticalLayout"));
        QVERIFY(main);
        QCOMPARE(dialog.layout(), main);
        QCOMPARE(itemNames(main),
                 QStringList({"horizontalLayout", "horizontalLayout_5", "horizontalLayout_4",
                              "samplingLayout", "horizontalLayout_6", "reason", "buttonBox"}));

        const QList<QPair<QString, QStringList>> rows = {
            {"horizontalLayout", {"label", "Ci", "label_2", "Cf", "label_3", "Cp", "spacer"}},
            {"horizontalLayout_5", {"label_5", "Tam", "label_4", "amo", "spacer"}},
            {"horizontalLayout_4", {"label_7", "nArq", "spacer"}},
            {"horizontalLayout_6", {"label_6", "path", "pushButton"}},
        };
        for (const auto &[name, items] : rows) {
            auto *row = dialog.findChild<QHBoxLayout *>(name);
            QVERIFY2(row, qPrintable(name));
            QCOMPARE(itemNames(row), items);
        }

        const QList<QSpacerItem *> spacers = spacersIn(main);
        QCOMPARE(spacers.size(), 4);
        for (QSpacerItem *spacer : spacers) {
            QCOMPARE(spacer->sizeHint(), QSize(40, 20));
            QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
            QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
        }
    }

    void labels_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::newRow("label") << "label"
                               << "Cover mim";
        QTest::newRow("label_2") << "label_2"
                                 << "Cover max";
        QTest::newRow("label_3") << "label_3"
                                 << "Step change in cover";
        QTest::newRow("label_5") << "label_5"
                                 << "Size";
        QTest::newRow("label_4") << "label_4"
                                 << "Number of replicates";
        QTest::newRow("label_7") << "label_7"
                                 << "TOTAL NUMBER OF FILES TO GENERATE";
        QTest::newRow("label_6") << "label_6"
                                 << "Folder";
    }

    void labels()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        DialogRnd dialog;
        auto *label = dialog.findChild<QLabel *>(name);
        QVERIFY(label);
        QCOMPARE(label->text(), text);
    }

    void spinBoxes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("value");
        // Ci keeps Qt's default range, so the initial cover cannot be 100.
        QTest::newRow("Ci") << "Ci" << 0 << 99 << 1;
        QTest::newRow("Cf") << "Cf" << 1 << 100 << 100;
        QTest::newRow("Cp") << "Cp" << 1 << 100 << 1;
        QTest::newRow("Tam") << "Tam" << 2 << 9999999 << 100;
        QTest::newRow("amo") << "amo" << 1 << 999999 << 1;
    }

    void spinBoxes()
    {
        QFETCH(QString, name);
        QFETCH(int, minimum);
        QFETCH(int, maximum);
        QFETCH(int, value);
        DialogRnd dialog;
        auto *box = dialog.findChild<QSpinBox *>(name);
        QVERIFY(box);
        QCOMPARE(box->minimum(), minimum);
        QCOMPARE(box->maximum(), maximum);
        QCOMPARE(box->value(), value);
        QCOMPARE(box->singleStep(), 1);
        QVERIFY(box->isEnabled());
    }

    // The limits live in the requests; every dialog takes its ranges from
    // them, so a value a dialog offers is one the batch accepts.
    void rangesAreTheRequestLimits()
    {
        auto agree = [](const QDialog &dialog, const char *name, auto limits) {
            const auto *box = dialog.findChild<QAbstractSpinBox *>(QLatin1String(name));
            QVERIFY2(box, name);
            double minimum = 0;
            double maximum = 0;
            if (const auto *whole = qobject_cast<const QSpinBox *>(box)) {
                minimum = whole->minimum();
                maximum = whole->maximum();
            } else {
                minimum = qobject_cast<const QDoubleSpinBox *>(box)->minimum();
                maximum = qobject_cast<const QDoubleSpinBox *>(box)->maximum();
            }
            QVERIFY2(minimum == double(limits.min) && maximum == double(limits.max), name);
        };
        using Random = RandomBatchRequest;
        using Fractal = FractalBatchRequest;
        const DialogRnd random;
        agree(random, "Ci", Random::firstCoverLimits);
        agree(random, "Cf", Random::lastCoverLimits);
        agree(random, "Cp", Random::coverStepLimits);
        agree(random, "Tam", Random::sizeLimits);
        agree(random, "amo", Random::replicateLimits);
        const dialogFbm fractal;
        agree(fractal, "Hi", Fractal::firstHurstLimits);
        agree(fractal, "Hf", Fractal::lastHurstLimits);
        agree(fractal, "Hp", Fractal::hurstStepLimits);
        agree(fractal, "Ci", Fractal::firstCoverLimits);
        agree(fractal, "Cf", Fractal::lastCoverLimits);
        agree(fractal, "Cp", Fractal::coverStepLimits);
        agree(fractal, "Tam", Fractal::sizeLimits);
        agree(fractal, "amo", Fractal::replicateLimits);
        const setings settings;
        agree(settings, "coverValue", BatchOutput::coverValueLimits);
        agree(settings, "matrixValue", BatchOutput::matrixValueLimits);
        agree(settings, "seedRnd", Random::seedLimits);
    }

    // OK is off, with the reason beside it, while the values visit no
    // cover; the dialog otherwise looks as it always has.
    void okWaitsForARunnableRequest()
    {
        DialogRnd dialog;
        auto *ok = dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
        const auto *reason = dialog.findChild<QLabel *>(QStringLiteral("reason"));
        // No folder yet; typing one is as good as choosing one.
        QVERIFY(!ok->isEnabled());
        QVERIFY2(reason->text().contains(QStringLiteral("folder")), qPrintable(reason->text()));
        QTest::keyClicks(dialog.findChild<QLineEdit *>(QStringLiteral("path")),
                         QStringLiteral("maps"));
        QVERIFY(ok->isEnabled() && reason->isHidden());
        spin(dialog, "Ci")->setValue(60);
        spin(dialog, "Cf")->setValue(40);
        QVERIFY(!ok->isEnabled());
        QVERIFY2(!reason->isHidden() && reason->text().contains(QStringLiteral("above the last")),
                 qPrintable(reason->text()));
        spin(dialog, "Cf")->setValue(60);
        QVERIFY(ok->isEnabled() && reason->isHidden());
    }

    void totalIsDisplayOnly()
    {
        DialogRnd dialog;
        QSpinBox *total = spin(dialog, "nArq");
        QVERIFY(total);
        QVERIFY(!total->isEnabled());
        QCOMPARE(total->minimum(), 0);
        QCOMPARE(total->maximum(), 999999999);
        QCOMPARE(total->buttonSymbols(), QAbstractSpinBox::NoButtons);
        QCOMPARE(total->alignment(), Qt::AlignRight | Qt::AlignVCenter);
        QCOMPARE(total->font().pointSize(), 20);
        QVERIFY(total->font().italic());
    }

    void folderRowAndButtons()
    {
        DialogRnd dialog;
        auto *path = dialog.findChild<QLineEdit *>(QStringLiteral("path"));
        auto *button = dialog.findChild<QPushButton *>(QStringLiteral("pushButton"));
        auto *box = dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
        QVERIFY(path && button && box);
        QVERIFY(path->text().isEmpty());
        QCOMPARE(button->text(), "...");
        QCOMPARE(button->minimumSize(), QSize(20, 0));
        QCOMPARE(box->orientation(), Qt::Horizontal);
        QCOMPARE(box->standardButtons(), QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    }

    void buttonsCloseWithResult_data()
    {
        QTest::addColumn<QDialogButtonBox::StandardButton>("button");
        QTest::addColumn<int>("result");
        QTest::newRow("Ok") << QDialogButtonBox::Ok << int(QDialog::Accepted);
        QTest::newRow("Cancel") << QDialogButtonBox::Cancel << int(QDialog::Rejected);
    }

    void buttonsCloseWithResult()
    {
        QFETCH(QDialogButtonBox::StandardButton, button);
        QFETCH(int, result);
        DialogRnd dialog;
        dialog.findChild<QLineEdit *>(QStringLiteral("path"))->setText(QStringLiteral("maps"));
        dialog.setResult(-1);
        dialog.show();
        auto *box = dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
        QTest::mouseClick(box->button(button), Qt::LeftButton);
        QCOMPARE(dialog.result(), result);
        QVERIFY(!dialog.isVisible());
    }

    void slotsInDeclaredOrder()
    {
        const QMetaObject &meta = DialogRnd::staticMetaObject;
        QCOMPARE(meta.className(), "DialogRnd");
        QCOMPARE(ownPrivateSlots(meta),
                 QStringList({"on_pushButton_clicked()", "on_Ci_valueChanged(int)",
                              "on_Cf_valueChanged(int)", "on_Cp_valueChanged(int)",
                              "on_Tam_valueChanged(int)", "on_amo_valueChanged(int)"}));
    }

    void freshDialogShowsHundred()
    {
        // Covers 1 to 100 in steps of 1, one map each.
        DialogRnd dialog;
        QCOMPARE(spin(dialog, "nArq")->value(), 100);
    }

    void totalFollowsTypedValues_data()
    {
        QTest::addColumn<int>("ci");
        QTest::addColumn<int>("cf");
        QTest::addColumn<int>("cp");
        QTest::addColumn<int>("amo");
        QTest::addColumn<int>("total");
        QTest::newRow("covers 3 and 7, five each") << 3 << 10 << 4 << 5 << 10;
        QTest::newRow("covers 0 to 100 by 25, three each") << 0 << 100 << 25 << 3 << 15;
        QTest::newRow("covers 1 to 91 by 10, two each") << 1 << 100 << 10 << 2 << 20;
        QTest::newRow("only the initial cover changed") << 50 << 100 << 1 << 1 << 51;
        QTest::newRow("one cover when both ends meet") << 40 << 40 << 7 << 3 << 3;
        QTest::newRow("final below initial by less than a step") << 50 << 45 << 10 << 1 << 0;
        QTest::newRow("final far below initial") << 99 << 1 << 1 << 999999 << 0;
        QTest::newRow("101 covers at the most replicates") << 0 << 100 << 1 << 999999 << 100999899;
    }

    void totalFollowsTypedValues()
    {
        QFETCH(int, ci);
        QFETCH(int, cf);
        QFETCH(int, cp);
        QFETCH(int, amo);
        QFETCH(int, total);
        DialogRnd dialog;
        typeInto(spin(dialog, "Ci"), QString::number(ci));
        typeInto(spin(dialog, "Cf"), QString::number(cf));
        typeInto(spin(dialog, "Cp"), QString::number(cp));
        typeInto(spin(dialog, "amo"), QString::number(amo));

        QCOMPARE(spin(dialog, "nArq")->value(), total);
        QCOMPARE(dialog.initialCover(), ci);
        QCOMPARE(dialog.finalCover(), cf);
        QCOMPARE(dialog.coverStep(), cp);
        QCOMPARE(dialog.replicateCount(), amo);
    }

    void sizeLeavesTotalAlone()
    {
        DialogRnd dialog;
        typeInto(spin(dialog, "Cp"), QStringLiteral("4"));
        QCOMPARE(spin(dialog, "nArq")->value(), 25);
        typeInto(spin(dialog, "Tam"), QStringLiteral("4096"));
        QCOMPARE(dialog.mapSize(), 4096);
        QCOMPARE(spin(dialog, "nArq")->value(), 25);
    }

    void folderChooser()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        DialogRnd dialog;
        dialog.show();
        auto *path = dialog.findChild<QLineEdit *>(QStringLiteral("path"));
        auto *button = dialog.findChild<QPushButton *>(QStringLiteral("pushButton"));

        ChooserAnswer choose(folder.path());
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(choose.shown);
        QCOMPARE(choose.caption, "Choose folder to generate files");
        QCOMPARE(choose.parent, &dialog);
        QVERIFY(choose.directoriesOnly);
        QCOMPARE(QDir(path->text()).canonicalPath(), QDir(folder.path()).canonicalPath());
        QCOMPARE(dialog.folderText(), path->text());

        // Cancelling the chooser afterwards clears the folder chosen before.
        ChooserAnswer cancel;
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(cancel.shown);
        QVERIFY(path->text().isEmpty());
        QVERIFY(dialog.folderText().isEmpty());
    }

    // The folder of an accepted batch is there again in the next process's
    // dialog; a cancelled one is not kept.
    void acceptedFolderIsRemembered()
    {
        {
            DialogRnd dialog;
            dialog.findChild<QLineEdit *>(QStringLiteral("path"))->setText(QStringLiteral("kept"));
            dialog.accept();
        }
        {
            DialogRnd dialog;
            QCOMPARE(dialog.folderText(), QStringLiteral("kept"));
            dialog.findChild<QLineEdit *>(QStringLiteral("path"))->setText(QStringLiteral("lost"));
            dialog.reject();
        }
        DialogRnd dialog;
        QCOMPARE(dialog.folderText(), QStringLiteral("kept"));
        QVERIFY(dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->isEnabled());
    }

    void textsUseClassContext()
    {
        ContextMarkingTranslator translator;
        QCoreApplication::installTranslator(&translator);
        DialogRnd dialog;
        dialog.show();
        QCOMPARE(dialog.windowTitle(), "DialogRnd|Random landscapes settings");

        ChooserAnswer cancel;
        QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("pushButton")),
                          Qt::LeftButton);
        QCoreApplication::removeTranslator(&translator);
        QVERIFY(cancel.shown);
        QCOMPARE(cancel.caption, "DialogRnd|Choose folder to generate files");
    }
};

QTEST_MAIN(TestDialogRnd)
#include "tst_dialogrnd.moc"
