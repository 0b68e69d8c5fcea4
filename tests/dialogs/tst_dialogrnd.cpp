// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/batchrequest.h"
#include "fractal/dialogfbm.h"
#include "random/dialogrnd.h"
#include "settings/setings.h"

#include "tests/dialogs/contextmarkingtranslator.h"
#include "tests/dialogs/formprobe.h"
#include "tests/support/chooseranswer.h"
#include "tests/support/modal.h"
#include "tests/support/settings.h"

#include <QComboBox>
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
#include <QToolButton>
#include <QVBoxLayout>

#include <memory>

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
        QCOMPARE(
            itemNames(main),
            QStringList({"horizontalLayout", "horizontalLayout_5", "horizontalLayout_4",
                         "samplingLayout", "horizontalLayout_6", "output", "reason", "buttonBox"}));

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

    // Both dialogs bring back the values of the last accepted batch in the
    // next process (the generator and the cut as before), and a cancelled
    // dialog keeps nothing; the seed of the settings dialog stays 5.
    void acceptedValuesComeBackAtTheNextStart()
    {
        const auto set = [](QDialog &dialog, const QList<QPair<const char *, double>> &values) {
            for (const auto &[name, value] : values) {
                auto *box = dialog.findChild<QAbstractSpinBox *>(QLatin1String(name));
                if (auto *whole = qobject_cast<QSpinBox *>(box))
                    typeInto(whole, QString::number(int(value)));
                else
                    qobject_cast<QDoubleSpinBox *>(box)->setValue(value);
            }
            dialog.findChild<QLineEdit *>(QStringLiteral("path"))->setText(QStringLiteral("m"));
        };
        {
            DialogRnd random;
            set(random, {{"Ci", 20}, {"Cf", 60}, {"Cp", 10}, {"Tam", 40}, {"amo", 2}});
            random.findChild<QComboBox *>(QStringLiteral("generator"))->setCurrentIndex(1);
            clickOk(&random);
            dialogFbm fractal;
            set(fractal, {{"Hi", 0.3}, {"Hf", 0.7}, {"Hp", 0.2}, {"Ci", 5}, {"Tam", 64}});
            fractal.findChild<QComboBox *>(QStringLiteral("cut"))->setCurrentIndex(1);
            clickOk(&fractal);
        }
        {
            DialogRnd random;
            set(random, {{"Ci", 1}, {"Cf", 2}});
            random.reject();
        }
        const DialogRnd random;
        const RandomBatchRequest again = random.request();
        QCOMPARE(again.covers.first, 20);
        QCOMPARE(again.covers.last, 60);
        QCOMPARE(again.covers.step, 10);
        QCOMPARE(again.shape.rows, 40);
        QCOMPARE(again.replicates, 2);
        QCOMPARE(again.generator, Generator::Philox);
        // The total is that of the values brought back.
        QCOMPARE(spin(random, "nArq")->value(), 10);
        const dialogFbm fractal;
        const FractalBatchRequest fbm = fractal.request();
        QCOMPARE(fbm.hurst.first, 0.3);
        QCOMPARE(fbm.hurst.last, 0.7);
        QCOMPARE(fbm.hurst.step, 0.2);
        QCOMPARE(fbm.covers.first, 5);
        QCOMPARE(fbm.shape.rows, 64);
        QCOMPARE(fbm.cut, FractalCut::Exact);
        QCOMPARE(setings().seed(), 5);
    }

    // The Output group starts closed, with the choices that write maps as
    // they have always been written; opened, it fits in the dialog, and
    // closed again the dialog is as it was.
    void outputGroupStartsClosedWithTodaysOutput()
    {
        for (QDialog *dialog :
             {static_cast<QDialog *>(new DialogRnd), static_cast<QDialog *>(new dialogFbm)}) {
            const std::unique_ptr<QDialog> owner(dialog);
            dialog->findChild<QLineEdit *>(QStringLiteral("path"))->setText(QStringLiteral("m"));
            dialog->show();
            QVERIFY(QTest::qWaitForWindowExposed(dialog));
            const QSize closed = dialog->size();
            auto *format = dialog->findChild<QComboBox *>(QStringLiteral("format"));
            QVERIFY(!format->isVisible());
            const BatchOutput output = qobject_cast<DialogRnd *>(dialog)
                                           ? static_cast<DialogRnd *>(dialog)->request().output
                                           : static_cast<dialogFbm *>(dialog)->request().output;
            const BatchOutput today;
            QCOMPARE(output.format, today.format);
            QCOMPARE(output.georeference.cellSize, today.georeference.cellSize);
            QCOMPARE(output.georeference.originX, today.georeference.originX);
            QCOMPARE(output.georeference.crs, today.georeference.crs);
            QCOMPARE(output.metrics, today.metrics);

            auto *toggle = dialog->findChild<QToolButton *>(QStringLiteral("outputToggle"));
            QTest::mouseClick(toggle, Qt::LeftButton);
            QVERIFY(format->isVisible());
            QVERIFY2(dialog->height() >= dialog->sizeHint().height(),
                     qPrintable(QStringLiteral("%1 < %2")
                                    .arg(dialog->height())
                                    .arg(dialog->sizeHint().height())));
            // A reference system in a plain map is refused before OK.
            auto *crs = dialog->findChild<QLineEdit *>(QStringLiteral("crs"));
            auto *ok = dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
            crs->setText(QStringLiteral("EPSG:3035"));
            QVERIFY(!ok->isEnabled());
            crs->clear();
            QVERIFY(ok->isEnabled());
            QTest::mouseClick(toggle, Qt::LeftButton);
            QVERIFY(!format->isVisible());
            QCOMPARE(dialog->size(), closed);
        }
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
