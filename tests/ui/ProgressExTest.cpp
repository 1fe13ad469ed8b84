// The two-colour progress bar: where the fill splits, what positions it refuses, how the label is
// drawn across the split, and when it repaints.

#include <QApplication>
#include <QImage>
#include <QPaintEvent>
#include <QtTest>

#include "ui/CProgressEx.h"

using kestro::CProgressEx;

namespace {

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
  public:
    int count = 0;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++count;
        return QObject::eventFilter(watched, event);
    }
};

// Whether `c` lies nearer to `a` than to `b`: antialiased glyph edges blend the two.
bool Nearer(QColor c, QColor a, QColor b) {
    auto distance = [](QColor x, QColor y) {
        const int r = x.red() - y.red(), g = x.green() - y.green(), bl = x.blue() - y.blue();
        return r * r + g * g + bl * bl;
    };
    return distance(c, a) < distance(c, b);
}

}  // namespace

class ProgressExTest : public QObject {
    Q_OBJECT

  private:
    // A bar whose client area (inside its one-pixel border) is 191 pixels wide, in mode 2.
    std::unique_ptr<CProgressEx> MakeBar() {
        auto bar = std::make_unique<CProgressEx>();
        bar->resize(193, 22);
        bar->SetDrawMode(CProgressEx::kTwoColourMode);
        return bar;
    }
    // The client area as painted.
    static QImage Client(CProgressEx& bar) {
        return bar.grab().toImage().copy(bar.ClientRect()).convertToFormat(QImage::Format_RGB32);
    }
    // Columns [from, to) of the image hold only `colour`.
    static bool Solid(const QImage& image, int from, int to, QColor colour) {
        for (int y = 0; y < image.height(); ++y) {
            for (int x = from; x < to; ++x) {
                if (image.pixelColor(x, y) != colour) return false;
            }
        }
        return true;
    }

  private slots:
    void startsInStandardModeWithThemeColours() {
        CProgressEx bar;
        QCOMPARE(bar.DrawMode(), CProgressEx::kStandardMode);
        const QPalette palette = QApplication::palette();
        QCOMPARE(bar.BackColor(), palette.color(QPalette::Base));
        QCOMPARE(bar.BarColor(), palette.color(QPalette::Highlight));
        QCOMPARE(bar.BarTextColor(), bar.BackColor());
        QCOMPARE(bar.BackTextColor(), bar.BarColor());

        // The colours were taken once: a later theme change leaves them alone.
        QPalette changed = palette;
        changed.setColor(QPalette::Highlight, Qt::magenta);
        QApplication::setPalette(changed);
        QCOMPARE(bar.BarColor(), palette.color(QPalette::Highlight));
        auto painted = MakeBar();
        QApplication::setPalette(palette);
        QCOMPARE(painted->BarColor(), QColor(Qt::magenta));
    }

    void splitIsTruncatedAndEndsAreOneColour() {
        auto bar = MakeBar();
        bar->SetText(" ");  // a label that draws nothing, so only the fill shows
        QCOMPARE(bar->ClientRect().width(), 191);

        bar->SetPos(50);  // 191 * 0.5 = 95.5: the split is at 95, not 96
        QImage image = Client(*bar);
        QVERIFY(Solid(image, 0, 95, bar->BarColor()));
        QVERIFY(Solid(image, 95, 191, bar->BackColor()));

        bar->SetPos(0);
        QVERIFY(Solid(Client(*bar), 0, 191, bar->BackColor()));
        bar->SetPos(100);
        QVERIFY(Solid(Client(*bar), 0, 191, bar->BarColor()));
    }

    void outOfRangePositionsChangeNothing() {
        auto bar = MakeBar();
        bar->SetText("Firmware Writing 30%");
        bar->SetPos(30);
        const QImage before = bar->grab().toImage();
        for (const int position : {-1, 101, 1000, -50}) {
            bar->SetPos(position);
            QCOMPARE(bar->Pos(), 30);
            QCOMPARE(bar->value(), 30);  // the native position is set again, to the bar's own
            QCOMPARE(bar->grab().toImage(), before);
        }
    }

    void labelTakesTheContrastingColourOnEachSide() {
        auto bar = MakeBar();
        bar->SetText("WWWWWWWWWWWWWWWWWWWW");  // wider than the bar: centred, clipped at both ends
        bar->SetPos(50);
        const QImage image = Client(*bar);
        int textOverFill = 0;
        int textOverBack = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < 191; ++x) {
                const QColor c = image.pixelColor(x, y);
                if (x < 95 && Nearer(c, bar->BarTextColor(), bar->BarColor())) ++textOverFill;
                if (x >= 95 && Nearer(c, bar->BackTextColor(), bar->BackColor())) ++textOverBack;
            }
        }
        // Both halves show text, each in the colour that stands out from its ground: the glyphs
        // render, and the label was drawn twice with clipping rather than once in one colour.
        QVERIFY2(textOverFill > 20, qPrintable(QString::number(textOverFill)));
        QVERIFY2(textOverBack > 20, qPrintable(QString::number(textOverBack)));

        // At the ends the label is wholly in one colour: over the fill only at 100, over the
        // ground only at 0.
        bar->SetPos(0);
        QImage empty = Client(*bar);
        bar->SetPos(100);
        QImage full = Client(*bar);
        int emptyText = 0;
        int fullText = 0;
        for (int y = 0; y < empty.height(); ++y) {
            for (int x = 0; x < 191; ++x) {
                emptyText += Nearer(empty.pixelColor(x, y), bar->BackTextColor(), bar->BackColor());
                fullText += Nearer(full.pixelColor(x, y), bar->BarTextColor(), bar->BarColor());
            }
        }
        QVERIFY(emptyText > 40);
        QVERIFY(fullText > 40);
    }

    void emptyLabelGetsThePercentage() {
        auto bar = MakeBar();
        bar->SetPos(37);
        QCOMPARE(bar->Label(), std::string());
        bar->grab();
        QCOMPARE(bar->Label(), std::string("37%"));
        bar->SetPos(80);
        bar->grab();
        QCOMPARE(bar->Label(), std::string("37%"));  // kept until SetText replaces it
    }

    void setTextWaitsForRepaintAndPositionsShareOne() {
        auto bar = MakeBar();
        bar->show();
        QVERIFY(QTest::qWaitForWindowExposed(bar.get()));
        PaintCounter counter;
        bar->installEventFilter(&counter);
        QCoreApplication::processEvents();
        counter.count = 0;

        bar->SetText("Boot Writing 10%");
        QCoreApplication::processEvents();
        QCOMPARE(counter.count, 0);  // stored only

        bar->SetPos(10);
        bar->SetPos(11);
        bar->SetPos(12);
        QCOMPARE(counter.count, 0);  // nothing is painted inside SetPos
        QTRY_VERIFY(counter.count >= 1);
        QCoreApplication::processEvents();
        QCOMPARE(counter.count, 1);  // one repaint served all three

        counter.count = 0;
        bar->SetPos(150);
        QCoreApplication::processEvents();
        QCOMPARE(counter.count, 0);  // a refused position asks for no repaint
    }
};

QTEST_MAIN(ProgressExTest)
#include "ProgressExTest.moc"
