// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/setings.h"

#include "tests/dialogs/contextmarkingtranslator.h"
#include "tests/dialogs/formprobe.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QVBoxLayout>

class TestSetings : public QObject {
    Q_OBJECT

private:
    static QSpinBox *spin(const setings &dialog, const char *name)
    {
        return dialog.findChild<QSpinBox *>(QLatin1String(name));
    }

    static QLineEdit *edit(const setings &dialog, const char *name)
    {
        return dialog.findChild<QLineEdit *>(QLatin1String(name));
    }

private Q_SLOTS:
    void window()
    {
        setings dialog;
        QCOMPARE(dialog.objectName(), "setings");
        QCOMPARE(dialog.windowTitle(), "Settings");
        QCOMPARE(dialog.size(), QSize(498, 239));
        QCOMPARE(QByteArray(dialog.metaObject()->className()), "setings");
    }

    void rowsInOrder()
    {
        setings dialog;
        auto *main = dialog.findChild<QVBoxLayout *>(QStringLiteral("verticalLayout"));
        QVERIFY(main);
        QCOMPARE(dialog.layout(), main);
        // The fractal file name row comes before the fractal post-string row,
        // although their layouts are numbered the other way round.
        QCOMPARE(itemNames(main),
                 QStringList({"horizontalLayout", "horizontalLayout_2", "horizontalLayout_4",
                              "horizontalLayout_3", "horizontalLayout_5", "horizontalLayout_6",
                              "horizontalLayout_7", "reason", "buttonBox"}));

        const QList<QPair<QString, QStringList>> rows = {
            {"horizontalLayout", {"label", "preTextRnd"}},
            {"horizontalLayout_2", {"label_2", "posTextRnd"}},
            {"horizontalLayout_4", {"label_4", "preTextFrc"}},
            {"horizontalLayout_3", {"label_3", "posTextFrc"}},
            {"horizontalLayout_5", {"label_5", "coverValue", "spacer"}},
            {"horizontalLayout_6", {"label_6", "matrixValue", "spacer"}},
            {"horizontalLayout_7", {"label_7", "seedRnd", "spacer"}},
        };
        for (const auto &[name, items] : rows) {
            auto *row = dialog.findChild<QHBoxLayout *>(name);
            QVERIFY2(row, qPrintable(name));
            QCOMPARE(itemNames(row), items);
        }

        const QList<QSpacerItem *> spacers = spacersIn(main);
        QCOMPARE(spacers.size(), 3);
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
                               << "Random file name";
        QTest::newRow("label_2") << "label_2"
                                 << "Random post-string";
        QTest::newRow("label_4") << "label_4"
                                 << "Fractal file name";
        QTest::newRow("label_3") << "label_3"
                                 << "Fractal post-string";
        QTest::newRow("label_5 keeps its trailing space") << "label_5"
                                                          << "Cover value ";
        QTest::newRow("label_6") << "label_6"
                                 << "Matrix value";
        QTest::newRow("label_7") << "label_7"
                                 << "Random seed";
    }

    void labels()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        setings dialog;
        auto *label = dialog.findChild<QLabel *>(name);
        QVERIFY(label);
        QCOMPARE(label->text(), text);
    }

    void initialTexts()
    {
        setings dialog;
        QCOMPARE(edit(dialog, "preTextRnd")->text(), "RND_");
        QVERIFY(edit(dialog, "posTextRnd")->text().isEmpty());
        QCOMPARE(edit(dialog, "preTextFrc")->text(), "FBM_");
        QVERIFY(edit(dialog, "posTextFrc")->text().isEmpty());
    }

    void spinBoxes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("value");
        // The cover range has one digit fewer than the other two.
        QTest::newRow("coverValue") << "coverValue" << -99999 << 99999 << 1;
        QTest::newRow("matrixValue") << "matrixValue" << -999999 << 999999 << 0;
        QTest::newRow("seedRnd") << "seedRnd" << -999999 << 999999 << 5;
    }

    void spinBoxes()
    {
        QFETCH(QString, name);
        QFETCH(int, minimum);
        QFETCH(int, maximum);
        QFETCH(int, value);
        setings dialog;
        auto *box = dialog.findChild<QSpinBox *>(name);
        QVERIFY(box);
        QCOMPARE(box->minimum(), minimum);
        QCOMPARE(box->maximum(), maximum);
        QCOMPARE(box->value(), value);
    }

    void settersFillTheirOwnWidgets()
    {
        setings dialog;
        dialog.setRandomPrefix(QStringLiteral("r-pre"));
        dialog.setRandomPostString(QStringLiteral("r-post"));
        dialog.setFractalPrefix(QStringLiteral("f-pre"));
        dialog.setFractalPostString(QStringLiteral("f-post"));
        dialog.setCoverValue(-7);
        dialog.setMatrixValue(42);

        QCOMPARE(edit(dialog, "preTextRnd")->text(), "r-pre");
        QCOMPARE(edit(dialog, "posTextRnd")->text(), "r-post");
        QCOMPARE(edit(dialog, "preTextFrc")->text(), "f-pre");
        QCOMPARE(edit(dialog, "posTextFrc")->text(), "f-post");
        QCOMPARE(spin(dialog, "coverValue")->value(), -7);
        QCOMPARE(spin(dialog, "matrixValue")->value(), 42);
        // Filling the dialog from the settings never touches the seed.
        QCOMPARE(spin(dialog, "seedRnd")->value(), 5);
        QCOMPARE(dialog.seed(), 5);
    }

    void gettersReadWhatTheUserTyped()
    {
        setings dialog;
        dialog.show();
        const QList<QPair<const char *, QString>> texts = {{"preTextRnd", "a b"},
                                                           {"posTextRnd", ";post"},
                                                           {"preTextFrc", "frac_"},
                                                           {"posTextFrc", "x"}};
        for (const auto &[name, text] : texts) {
            edit(dialog, name)->selectAll();
            QTest::keyClicks(edit(dialog, name), text);
        }
        typeInto(spin(dialog, "coverValue"), QStringLiteral("-12"));
        typeInto(spin(dialog, "matrixValue"), QStringLiteral("345"));
        typeInto(spin(dialog, "seedRnd"), QStringLiteral("-678"));

        QCOMPARE(dialog.randomPrefix(), "a b");
        QCOMPARE(dialog.randomPostString(), ";post");
        QCOMPARE(dialog.fractalPrefix(), "frac_");
        QCOMPARE(dialog.fractalPostString(), "x");
        QCOMPARE(dialog.coverValue(), -12);
        QCOMPARE(dialog.matrixValue(), 345);
        QCOMPARE(dialog.seed(), -678);
    }

    void storedValuesOutsideTheRangeAreClamped_data()
    {
        QTest::addColumn<int>("cover");
        QTest::addColumn<int>("matrix");
        QTest::addColumn<int>("shownCover");
        QTest::addColumn<int>("shownMatrix");
        QTest::newRow("above") << 100000 << 1000000 << 99999 << 999999;
        QTest::newRow("below") << -100000 << -1000000 << -99999 << -999999;
        QTest::newRow("far beyond") << INT_MAX << INT_MIN << 99999 << -999999;
        QTest::newRow("just inside") << 99999 << -999999 << 99999 << -999999;
    }

    void storedValuesOutsideTheRangeAreClamped()
    {
        QFETCH(int, cover);
        QFETCH(int, matrix);
        QFETCH(int, shownCover);
        QFETCH(int, shownMatrix);
        setings dialog;
        dialog.setCoverValue(cover);
        dialog.setMatrixValue(matrix);
        QCOMPARE(dialog.coverValue(), shownCover);
        QCOMPARE(dialog.matrixValue(), shownMatrix);
    }

    void buttonsCloseWithResult()
    {
        setings dialog;
        auto *box = dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
        QVERIFY(box);
        QCOMPARE(box->orientation(), Qt::Horizontal);
        QCOMPARE(box->standardButtons(), QDialogButtonBox::Ok | QDialogButtonBox::Cancel);

        dialog.show();
        QTest::mouseClick(box->button(QDialogButtonBox::Ok), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!dialog.isVisible());

        dialog.show();
        QTest::mouseClick(box->button(QDialogButtonBox::Cancel), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(!dialog.isVisible());
    }

    void seedSurvivesCancel()
    {
        setings dialog;
        dialog.show();
        typeInto(spin(dialog, "seedRnd"), QStringLiteral("99"));
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(dialog.seed(), 99);
    }

    void textsUseClassContext()
    {
        ContextMarkingTranslator translator;
        QCoreApplication::installTranslator(&translator);
        setings dialog;
        QCoreApplication::removeTranslator(&translator);
        QCOMPARE(dialog.windowTitle(), "setings|Settings");
        // The initial contents go through the same pass as the labels.
        QCOMPARE(dialog.randomPrefix(), "setings|RND_");
        QCOMPARE(dialog.fractalPrefix(), "setings|FBM_");
    }
};

QTEST_MAIN(TestSetings)
#include "tst_setings.moc"
