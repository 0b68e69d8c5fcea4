// SPDX-License-Identifier: GPL-3.0-or-later
#include "fractal/dialogfbm.h"
#include "random/dialogrnd.h"

#include "tests/dialogs/contextmarkingtranslator.h"
#include "tests/dialogs/formprobe.h"
#include "tests/support/chooseranswer.h"
#include "tests/support/settings.h"

#include <QCheckBox>
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
#include <QVBoxLayout>

class TestDialogFbm : public QObject {
    Q_OBJECT

private:
    static QSpinBox *spin(const dialogFbm &dialog, const char *name)
    {
        return dialog.findChild<QSpinBox *>(QLatin1String(name));
    }

    static QDoubleSpinBox *hBox(const dialogFbm &dialog, const char *name)
    {
        return dialog.findChild<QDoubleSpinBox *>(QLatin1String(name));
    }

    // Types a value of H in the spin box's own locale, so that the decimal
    // separator is the one the box accepts.
    static void typeH(QDoubleSpinBox *box, double value)
    {
        typeInto(box, box->locale().toString(value, 'f', 2));
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
        dialogFbm dialog;
        QCOMPARE(dialog.objectName(), "dialogFbm");
        QCOMPARE(dialog.windowTitle(), "Fractal settings");
        QCOMPARE(dialog.size(), QSize(571, 207));
        QCOMPARE(dialog.maximumSize(), QSize(16777215, 300));
    }

    void layoutOrder()
    {
        dialogFbm dialog;
        auto *main = dialog.findChild<QVBoxLayout *>(QStringLiteral("verticalLayout"));
        QVERIFY(main);
        QCOMPARE(dialog.layout(), main);
        QCOMPARE(itemNames(main),
                 QStringList({"horizontalLayout_7", "horizontalLayout", "horizontalLayout_5",
                              "horizontalLayout_4", "samplingLayout", "horizontalLayout_6",
                              "output", "reason", "buttonBox"}));

        const QList<QPair<QString, QStringList>> rows = {
            {"horizontalLayout_7", {"label_7", "Hi", "label_9", "Hf", "label_10", "Hp", "spacer"}},
            {"horizontalLayout", {"label", "Ci", "label_2", "Cf", "label_3", "Cp", "spacer"}},
            {"horizontalLayout_5", {"label_5", "Tam", "label_4", "amo", "spacer"}},
            {"horizontalLayout_4", {"label_8", "nArq", "spacer"}},
            {"horizontalLayout_6", {"label_6", "path", "pushButton"}},
        };
        for (const auto &[name, items] : rows) {
            auto *row = dialog.findChild<QHBoxLayout *>(name);
            QVERIFY2(row, qPrintable(name));
            QCOMPARE(itemNames(row), items);
        }

        const QList<QSpacerItem *> spacers = spacersIn(main);
        QCOMPARE(spacers.size(), 5);
        for (QSpacerItem *spacer : spacers) {
            QCOMPARE(spacer->sizeHint(), QSize(40, 20));
            QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
        }
    }

    void labels_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::newRow("label_7") << "label_7"
                                 << "Initial H";
        QTest::newRow("label_9") << "label_9"
                                 << "Final H";
        QTest::newRow("label_10") << "label_10"
                                  << "Step change in H";
        QTest::newRow("label") << "label"
                               << "Cover mim";
        QTest::newRow("label_2") << "label_2"
                                 << "Cover max";
        QTest::newRow("label_3") << "label_3"
                                 << "Step change in cover";
        QTest::newRow("label_5") << "label_5"
                                 << "Size";
        QTest::newRow("label_4") << "label_4"
                                 << "Number or replicates";
        QTest::newRow("label_8") << "label_8"
                                 << "TOTAL NUMBER OF FILES TO GENERATE:";
        QTest::newRow("label_6") << "label_6"
                                 << "Folder";
    }

    void labels()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        dialogFbm dialog;
        auto *label = dialog.findChild<QLabel *>(name);
        QVERIFY(label);
        QCOMPARE(label->text(), text);
    }

    void hSpinBoxes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<double>("minimum");
        QTest::addColumn<double>("maximum");
        QTest::addColumn<double>("value");
        // The initial H cannot go below 0.1, the final H and the step can.
        QTest::newRow("Hi") << "Hi" << 0.1 << 1.0 << 0.1;
        QTest::newRow("Hf") << "Hf" << 0.01 << 1.0 << 0.9;
        QTest::newRow("Hp") << "Hp" << 0.01 << 1.0 << 0.1;
    }

    void hSpinBoxes()
    {
        QFETCH(QString, name);
        QFETCH(double, minimum);
        QFETCH(double, maximum);
        QFETCH(double, value);
        dialogFbm dialog;
        auto *box = dialog.findChild<QDoubleSpinBox *>(name);
        QVERIFY(box);
        QCOMPARE(box->decimals(), 2);
        QCOMPARE(box->minimum(), minimum);
        QCOMPARE(box->maximum(), maximum);
        QCOMPARE(box->singleStep(), 0.1);
        QCOMPARE(box->value(), value);
    }

    void intSpinBoxes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("value");
        QTest::newRow("Ci") << "Ci" << 0 << 99 << 1;
        QTest::newRow("Cf") << "Cf" << 1 << 100 << 100;
        QTest::newRow("Cp") << "Cp" << 1 << 100 << 1;
        QTest::newRow("Tam") << "Tam" << 2 << 9999999 << 100;
        QTest::newRow("amo") << "amo" << 1 << 999999 << 1;
    }

    void intSpinBoxes()
    {
        QFETCH(QString, name);
        QFETCH(int, minimum);
        QFETCH(int, maximum);
        QFETCH(int, value);
        dialogFbm dialog;
        auto *box = dialog.findChild<QSpinBox *>(name);
        QVERIFY(box);
        QCOMPARE(box->minimum(), minimum);
        QCOMPARE(box->maximum(), maximum);
        QCOMPARE(box->value(), value);
        QCOMPARE(box->singleStep(), 1);
    }

    void totalIsDisplayOnly()
    {
        dialogFbm dialog;
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
        dialogFbm dialog;
        auto *path = dialog.findChild<QLineEdit *>(QStringLiteral("path"));
        auto *button = dialog.findChild<QPushButton *>(QStringLiteral("pushButton"));
        auto *box = dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
        QVERIFY(path && button && box);
        QVERIFY(path->text().isEmpty());
        QCOMPARE(button->text(), "...");
        QCOMPARE(button->minimumWidth(), 20);
        QCOMPARE(box->orientation(), Qt::Horizontal);
        QCOMPARE(box->standardButtons(), QDialogButtonBox::Ok | QDialogButtonBox::Cancel);

        // OK waits for a folder, and says so.
        QVERIFY(!box->button(QDialogButtonBox::Ok)->isEnabled());
        const auto *reason = dialog.findChild<QLabel *>(QStringLiteral("reason"));
        QVERIFY2(reason->text().contains(QStringLiteral("folder")), qPrintable(reason->text()));
        QTest::keyClicks(path, QStringLiteral("maps"));
        QVERIFY(reason->isHidden());
        dialog.show();
        QTest::mouseClick(box->button(QDialogButtonBox::Ok), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        dialog.show();
        QTest::mouseClick(box->button(QDialogButtonBox::Cancel), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }

    void slotsInDeclaredOrder()
    {
        const QMetaObject &meta = dialogFbm::staticMetaObject;
        QCOMPARE(meta.className(), "dialogFbm");
        QCOMPARE(ownPrivateSlots(meta),
                 QStringList({"on_pushButton_clicked()", "on_Hi_valueChanged(double)",
                              "on_Hf_valueChanged(double)", "on_Hp_valueChanged(double)",
                              "on_Ci_valueChanged(int)", "on_Cf_valueChanged(int)",
                              "on_Cp_valueChanged(int)", "on_amo_valueChanged(int)"}));
    }

    void freshDialogShowsNineHundred()
    {
        // H 0.1 to 0.9 in steps of 0.1 is nine values, times covers 1 to 100.
        // A plain quotient of range and step can truncate to eight here.
        dialogFbm dialog;
        QCOMPARE(spin(dialog, "nArq")->value(), 900);
    }

    void totalFollowsTypedValues_data()
    {
        QTest::addColumn<double>("hi");
        QTest::addColumn<double>("hf");
        QTest::addColumn<double>("hp");
        QTest::addColumn<int>("ci");
        QTest::addColumn<int>("cf");
        QTest::addColumn<int>("cp");
        QTest::addColumn<int>("amo");
        QTest::addColumn<int>("total");
        // The run visits 0.1, 0.4, 0.7 and 1.0, though 0.8 / 0.3 truncates to 2.
        QTest::newRow("H by 0.3 visits four values")
            << 0.1 << 0.9 << 0.3 << 1 << 100 << 1 << 1 << 400;
        QTest::newRow("H 0.1 to 1.0 is ten values")
            << 0.1 << 1.0 << 0.1 << 1 << 100 << 1 << 1 << 1000;
        QTest::newRow("one H value when the ends meet")
            << 0.5 << 0.5 << 0.1 << 1 << 100 << 1 << 2 << 200;
        QTest::newRow("covers 10 only, one per H") << 0.1 << 0.9 << 0.1 << 10 << 15 << 10 << 1 << 9;
        QTest::newRow("covers 3 and 7, five per H") << 0.1 << 0.9 << 0.1 << 3 << 10 << 4 << 5 << 90;
        QTest::newRow("final cover below initial") << 0.1 << 0.9 << 0.1 << 50 << 45 << 10 << 1 << 0;
        QTest::newRow("final cover far below initial, negative count")
            << 0.1 << 0.9 << 0.1 << 99 << 1 << 1 << 7 << 0;
        QTest::newRow("final H below initial H") << 0.5 << 0.2 << 0.1 << 1 << 100 << 1 << 1 << 0;
        QTest::newRow("more files than the display holds")
            << 0.1 << 1.0 << 0.01 << 0 << 100 << 1 << 999999 << 999999999;
    }

    void totalFollowsTypedValues()
    {
        QFETCH(double, hi);
        QFETCH(double, hf);
        QFETCH(double, hp);
        QFETCH(int, ci);
        QFETCH(int, cf);
        QFETCH(int, cp);
        QFETCH(int, amo);
        QFETCH(int, total);
        dialogFbm dialog;
        typeH(hBox(dialog, "Hi"), hi);
        typeH(hBox(dialog, "Hf"), hf);
        typeH(hBox(dialog, "Hp"), hp);
        typeInto(spin(dialog, "Ci"), QString::number(ci));
        typeInto(spin(dialog, "Cf"), QString::number(cf));
        typeInto(spin(dialog, "Cp"), QString::number(cp));
        typeInto(spin(dialog, "amo"), QString::number(amo));

        QCOMPARE(spin(dialog, "nArq")->value(), total);
        QCOMPARE(dialog.initialH(), hi);
        QCOMPARE(dialog.finalH(), hf);
        QCOMPARE(dialog.hStep(), hp);
        QCOMPARE(dialog.initialCover(), ci);
        QCOMPARE(dialog.finalCover(), cf);
        QCOMPARE(dialog.coverStep(), cp);
        QCOMPARE(dialog.replicateCount(), amo);
    }

    void sizeLeavesTotalAlone()
    {
        dialogFbm dialog;
        typeInto(spin(dialog, "Tam"), QStringLiteral("512"));
        QCOMPARE(dialog.mapSize(), 512);
        QCOMPARE(spin(dialog, "nArq")->value(), 900);
    }

    void folderChooser()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        dialogFbm dialog;
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

        ChooserAnswer cancel;
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(cancel.shown);
        QVERIFY(path->text().isEmpty());
    }

    void acceptedFolderIsRemembered()
    {
        {
            dialogFbm dialog;
            dialog.findChild<QLineEdit *>(QStringLiteral("path"))->setText(QStringLiteral("kept"));
            dialog.accept();
        }
        {
            dialogFbm dialog;
            QCOMPARE(dialog.folderText(), QStringLiteral("kept"));
            dialog.findChild<QLineEdit *>(QStringLiteral("path"))->setText(QStringLiteral("lost"));
            dialog.reject();
        }
        QCOMPARE(dialogFbm().folderText(), QStringLiteral("kept"));
        // Each kind of batch keeps its own folder.
        QVERIFY(DialogRnd().folderText().isEmpty());
    }

    // The sampling choices are the request's, and the generator and the cut
    // of an accepted batch come back at the next start.
    void samplingChoicesReachTheRequest()
    {
        {
            dialogFbm dialog;
            QCOMPARE(dialog.request().generator, Generator::Classic);
            QCOMPARE(dialog.request().cut, FractalCut::Ladder);
            dialog.findChild<QComboBox *>(QStringLiteral("generator"))->setCurrentIndex(1);
            dialog.findChild<QComboBox *>(QStringLiteral("cut"))->setCurrentIndex(1);
            dialog.findChild<QCheckBox *>(QStringLiteral("distinctSurfaces"))->setChecked(true);
            dialog.findChild<QSpinBox *>(QStringLiteral("surfaces"))->setValue(500);
            dialog.findChild<QSpinBox *>(QStringLiteral("firstSeed"))->setValue(7);
            const FractalBatchRequest request = dialog.request();
            QCOMPARE(request.generator, Generator::Philox);
            QCOMPARE(request.cut, FractalCut::Exact);
            QVERIFY(request.distinctSurfaces);
            QCOMPARE(request.surfaces, 500);
            QCOMPARE(request.firstSeed, 7);
            dialog.accept();
        }
        const FractalBatchRequest next = dialogFbm().request();
        QCOMPARE(next.generator, Generator::Philox);
        QCOMPARE(next.cut, FractalCut::Exact);
        QCOMPARE(next.surfaces, FractalBatchRequest::surfacesPerH);
        // The random dialog has its own choice.
        QCOMPARE(DialogRnd().request().generator, Generator::Classic);
    }

    void textsUseClassContext()
    {
        ContextMarkingTranslator translator;
        QCoreApplication::installTranslator(&translator);
        dialogFbm dialog;
        dialog.show();
        QCOMPARE(dialog.windowTitle(), "dialogFbm|Fractal settings");

        ChooserAnswer cancel;
        QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("pushButton")),
                          Qt::LeftButton);
        QCoreApplication::removeTranslator(&translator);
        QVERIFY(cancel.shown);
        QCOMPARE(cancel.caption, "dialogFbm|Choose folder to generate files");
    }
};

QTEST_MAIN(TestDialogFbm)
#include "tst_dialogfbm.moc"
