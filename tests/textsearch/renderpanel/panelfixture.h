// The fixture of the panel's widget tests: a shown panel with the main window's settings (ranked
// layout, no icon) over a set of hits, and the comparison of a drawing with the literal one.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QPlainTextEdit>
#include <QWindow>
#include <memory>
#include <string>

#include "tests/textsearch/renderpanel/panelapp.h"
#include "tests/textsearch/renderpanel/referencedraw.h"
#include "textsearch/renderpanel/vrenderpanel.h"

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        // As in the main window, a text box before the list has the focus.
        window = std::make_unique<QWidget>();
        window->resize(1000, 1000);
        editor = new QPlainTextEdit(window.get());
        editor->setGeometry(0, 0, 200, 100);
        panel = std::make_unique<vRenderPanel>(window.get());
        panel->move(250, 0);
        panel->setFont(PanelFont(10));
        panel->resize(320, 400);
        panel->SetScorePosition(false);
        panel->SetStorage(&hits.tree);
        QObject::connect(panel.get(), &vRenderPanel::OnPaint, [this](vRenderPanel* sender) {
            EXPECT_EQ(sender, panel.get());
            ++paints;
        });
        window->show();
        // repaint() paints at once only on an exposed window.
        for (int i = 0; i < 1000 && !window->windowHandle()->isExposed(); ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        ASSERT_TRUE(window->windowHandle()->isExposed());
        editor->setFocus();
    }

    void Paint() {
        const int before = paints;
        panel->repaint();
        ASSERT_EQ(paints, before + 1);
    }

    // The hit under a point, as the main window finds it: hover, repaint, hover again.
    TcvResults* HitAt(int x, int y) {
        panel->Hover(x, y);
        Paint();
        return panel->Hover(x, y);
    }

    // Gives the panel the keyboard focus, as Tab does.
    void Focus() {
        window->activateWindow();
        panel->setFocus(Qt::TabFocusReason);
        for (int i = 0; i < 1000 && !panel->hasFocus(); ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        ASSERT_TRUE(panel->hasFocus());
    }

    // Top of the first caption with the main window's settings (no ruler, no scroll).
    int FirstTop() const {
        return QFontMetrics(renderpanel::CanvasFont(panel->font()), &panel->BufferBitmap())
                   .height() +
               2;
    }

    QFontMetrics CaptionMetrics() const {
        QFont bold = renderpanel::CanvasFont(panel->font());
        bold.setBold(true);
        bold.setPointSizeF(bold.pointSizeF() + 1);
        return QFontMetrics(bold, &panel->BufferBitmap());
    }

    // Paints with the hover point and checks every result against the literal drawing; HitAt
    // must find without drawing what the drawing found.
    void ExpectLikeReference(int hoverx, int hovery, const std::string& what) {
        const TcvResults* before = panel->HitAt(QPoint(hoverx, hovery));
        panel->Hover(hoverx, hovery);
        reference.view = panel->ViewPoint();
        Paint();
        ReferenceDraw(ReferenceInputOf(*panel, hoverx, hovery), reference);
        const QImage& drawn = panel->BufferBitmap();
        if (drawn != reference.buffer) {
            drawn.save(QString::fromStdString("/tmp/panel_drawn.png"));
            reference.buffer.save(QString::fromStdString("/tmp/panel_reference.png"));
            ADD_FAILURE() << what << ": image differs (saved /tmp/panel_drawn.png)";
        }
        EXPECT_EQ(drawn.devicePixelRatio(), panel->devicePixelRatioF()) << what;
        EXPECT_EQ(panel->Hover(hoverx, hovery), reference.selected) << what;
        EXPECT_EQ(before, reference.selected) << what;
        EXPECT_EQ(panel->ScrollHeight(), reference.scrollheight) << what;
        EXPECT_EQ(panel->ScrollWidth(), reference.scrollwidth) << what;
        EXPECT_EQ(panel->ViewPoint(), reference.view) << what;
    }

    // Destroyed from the last: the panel, the window it sits in, then the hits it showed.
    THitSet hits;
    std::unique_ptr<QWidget> window;
    QPlainTextEdit* editor = nullptr;
    std::unique_ptr<vRenderPanel> panel;
    int paints = 0;
    TReferenceState reference;
};
