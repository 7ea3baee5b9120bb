// The keyboard's current hit, the focus frame and the wheel: how they move, what they ask of the
// owner's scroll bar, and that the current hit is drawn exactly as the hovered one.
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <vector>

#include "tests/textsearch/renderpanel/panelfixture.h"

namespace {

class KeyboardTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        // The owner applies what the panel asks for, as the main window's scroll bar does.
        QObject::connect(panel.get(), &vRenderPanel::scrollRequested, [this](int viewy) {
            requested.push_back(viewy);
            panel->SetViewPoint(QPoint(0, viewy));
        });
    }

    // REQUIRES: the panel has the focus. Returns whether the panel took the key.
    bool Key(int key) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(panel.get(), &press);
        return press.isAccepted();
    }

    void ExpectCurrentInView(const std::string& what) {
        const QRect row = panel->RowRect(panel->CurrentRow());
        EXPECT_GE(row.top(), 0) << what;
        EXPECT_LE(row.bottom(), panel->height() - 1) << what;
    }

    std::vector<int> requested;
};

TEST_F(KeyboardTest, TheCurrentHitMovesWithTheKeysAndScrollsIntoView) {
    AddVariedHits(hits, 100, 8);
    panel->StorageChanged();
    EXPECT_EQ(panel->CurrentRow(), -1);
    Focus();
    EXPECT_EQ(panel->CurrentRow(), 0);  // Tab in: the first hit in view
    const int n = panel->Count();
    const int page = panel->height() / panel->RowHeight();

    EXPECT_TRUE(Key(Qt::Key_Down));
    EXPECT_EQ(panel->CurrentRow(), 1);
    EXPECT_TRUE(Key(Qt::Key_Up));
    EXPECT_TRUE(Key(Qt::Key_Up));
    EXPECT_EQ(panel->CurrentRow(), 0);
    EXPECT_TRUE(requested.empty());  // all of it in view
    Key(Qt::Key_PageDown);
    EXPECT_EQ(panel->CurrentRow(), page);
    ExpectCurrentInView("page down");
    for (int i = 0; i < 5; ++i)
        Key(Qt::Key_Down);
    EXPECT_EQ(panel->CurrentRow(), page + 5);
    ExpectCurrentInView("down");
    Key(Qt::Key_End);
    EXPECT_EQ(panel->CurrentRow(), n - 1);
    EXPECT_EQ(panel->ViewPoint().y(), panel->MaxViewY());
    ExpectCurrentInView("end");
    Key(Qt::Key_Down);
    EXPECT_EQ(panel->CurrentRow(), n - 1);
    Key(Qt::Key_PageUp);
    EXPECT_EQ(panel->CurrentRow(), n - 1 - page);
    ExpectCurrentInView("page up");
    Key(Qt::Key_Home);
    EXPECT_EQ(panel->CurrentRow(), 0);
    EXPECT_EQ(panel->ViewPoint().y(), 0);
    for (const int viewy : requested) {
        EXPECT_GE(viewy, 0);
        EXPECT_LE(viewy, panel->MaxViewY());
    }

    // Tabbing into a scrolled list starts at the first hit whose top is in view.
    panel->clearFocus();
    panel->StorageChanged();
    panel->SetViewPoint(QPoint(0, 5 * panel->RowHeight() + FirstTop() + 3));
    const std::size_t asked = requested.size();
    Focus();
    EXPECT_EQ(panel->CurrentRow(), 6);
    EXPECT_EQ(requested.size(), asked);  // and the list stays where it is
}

TEST_F(KeyboardTest, EnterAndSpaceActivateTheCurrentHitAndEscAsksToLeave) {
    TcvResults* best = hits.Add(0.9f, "Printer offline...", "Restart the spooler service");
    TcvResults* second = hits.Add(0.5f, "Mail stuck...", "Clear the outbox");
    panel->StorageChanged();
    std::vector<const TcvResults*> activated;
    int escapes = 0;
    QObject::connect(panel.get(), &vRenderPanel::activated,
                     [&](const TcvResults* hit) { activated.push_back(hit); });
    QObject::connect(panel.get(), &vRenderPanel::escapePressed, [&] { ++escapes; });
    Focus();
    EXPECT_TRUE(Key(Qt::Key_Return));
    Key(Qt::Key_Down);
    EXPECT_TRUE(Key(Qt::Key_Space));
    EXPECT_TRUE(Key(Qt::Key_Enter));
    EXPECT_EQ(activated, (std::vector<const TcvResults*>{best, second, second}));
    EXPECT_TRUE(Key(Qt::Key_Escape));
    EXPECT_EQ(escapes, 1);
    EXPECT_FALSE(Key(Qt::Key_A));  // other keys go on to the window

    // Nothing to activate in an empty list.
    hits.Clear();
    panel->StorageChanged();
    EXPECT_EQ(panel->CurrentRow(), -1);
    Key(Qt::Key_Return);
    Key(Qt::Key_Down);
    EXPECT_EQ(activated.size(), 3u);
}

TEST_F(KeyboardTest, ANewPassStartsAtTheBestHitOnlyInTheFocusedList) {
    AddVariedHits(hits, 60, 10);
    panel->StorageChanged();
    Focus();
    Key(Qt::Key_End);
    hits.Clear();
    AddVariedHits(hits, 60, 11);
    panel->StorageChanged();
    EXPECT_EQ(panel->CurrentRow(), 0);
    EXPECT_EQ(panel->ViewPoint().y(), 0);  // and it is shown

    panel->clearFocus();
    EXPECT_EQ(panel->CurrentRow(), 0);  // leaving keeps it, for coming back
    panel->StorageChanged();
    EXPECT_EQ(panel->CurrentRow(), -1);

    // A click makes the clicked hit current, and the list does not move under the pointer, not
    // even for the hit cut by the bottom edge.
    const int cut = (panel->height() - FirstTop()) / panel->RowHeight();
    const QPoint caption(10, FirstTop() + cut * panel->RowHeight() + 1);
    ASSERT_LT(caption.y(), panel->height());
    const std::size_t asked = requested.size();
    QMouseEvent press(QEvent::MouseButtonPress, caption, panel->mapToGlobal(caption),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(panel.get(), &press);
    EXPECT_EQ(panel->CurrentRow(), cut);
    EXPECT_EQ(requested.size(), asked);
}

// The current hit is drawn exactly as the hovered one; the focus frame shows while the panel has
// the focus, and without focus and current hit nothing differs from the drawing of old.
TEST_F(KeyboardTest, TheCurrentHitIsDrawnAsTheHoveredOneAndTheFocusIsFramed) {
    AddVariedHits(hits, 80, 12);
    panel->StorageChanged();
    ExpectLikeReference(0, 0, "no focus, no current hit");
    Focus();
    Key(Qt::Key_Down);
    Key(Qt::Key_Down);
    ExpectLikeReference(0, 0, "focused, current hit");
    const QColor frame = panel->palette().color(QPalette::Highlight);
    const QImage& focused = panel->BufferBitmap();
    EXPECT_EQ(focused.pixelColor(0, 0), frame);
    EXPECT_EQ(focused.pixelColor(focused.width() - 1, focused.height() / 2), frame);
    ExpectLikeReference(10, FirstTop() + 1, "current and hovered hits");
    Key(Qt::Key_End);
    panel->repaint();
    ExpectLikeReference(10, 30, "current hit at the end");

    panel->clearFocus();
    ExpectLikeReference(0, 0, "current hit without focus");
    EXPECT_NE(panel->BufferBitmap().pixelColor(0, 0), frame);
    panel->StorageChanged();
    panel->SetViewPoint(QPoint(0, 0));
    ExpectLikeReference(0, 0, "no focus, no current hit again");
}

TEST_F(KeyboardTest, TheWheelScrollsItsLinesOfRowsANotch) {
    AddVariedHits(hits, 100, 13);
    panel->StorageChanged();
    const int notch = QApplication::wheelScrollLines() * panel->RowHeight();
    const auto wheel = [&](QPoint angle, QPoint pixels = {}) {
        QWheelEvent event(QPointF(10, 10), panel->mapToGlobal(QPointF(10, 10)), pixels, angle,
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(panel.get(), &event);
    };
    wheel(QPoint(0, -120));
    EXPECT_EQ(panel->ViewPoint().y(), notch);
    // Half notches add up.
    wheel(QPoint(0, -60));
    wheel(QPoint(0, -60));
    EXPECT_EQ(panel->ViewPoint().y(), 2 * notch);
    wheel(QPoint(0, 120));
    EXPECT_EQ(panel->ViewPoint().y(), notch);
    // Touchpads give pixels.
    wheel(QPoint(0, -24), QPoint(0, -7));
    EXPECT_EQ(panel->ViewPoint().y(), notch + 7);
    // The list's ends hold.
    for (int i = 0; i < 200; ++i)
        wheel(QPoint(0, -120));
    EXPECT_EQ(panel->ViewPoint().y(), panel->MaxViewY());
    const std::size_t asked = requested.size();
    wheel(QPoint(0, -120));
    EXPECT_EQ(requested.size(), asked);  // nothing more to ask for
    for (int i = 0; i < 200; ++i)
        wheel(QPoint(0, 120));
    EXPECT_EQ(panel->ViewPoint().y(), 0);
}

}  // namespace
