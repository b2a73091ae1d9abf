#include "platform/AlignLayout.h"

#include <gtest/gtest.h>

#include <QFrame>
#include <QWidget>

using namespace AlignLayout;

namespace {

QWidget* child(QWidget* parent, int x, int y, int w, int h) {
  auto* c = new QWidget(parent);
  c->setGeometry(x, y, w, h);
  return c;
}

}  // namespace

TEST(AlignLayout, TopControlsStackInOrderOfTheirTopEdgeAndClientFillsTheRest) {
  QWidget parent;
  parent.resize(400, 300);
  QWidget* second = child(&parent, 0, 50, 10, 30);
  QWidget* first = child(&parent, 0, 10, 10, 20);
  QWidget* rest = child(&parent, 0, 0, 5, 5);
  QWidget* loose = child(&parent, 7, 8, 9, 10);
  SetAlign(first, alTop);
  SetAlign(second, alTop);
  SetAlign(rest, alClient);

  EXPECT_EQ(first->geometry(), QRect(0, 0, 400, 20));
  EXPECT_EQ(second->geometry(), QRect(0, 20, 400, 30));
  EXPECT_EQ(rest->geometry(), QRect(0, 50, 400, 250));
  EXPECT_EQ(loose->geometry(), QRect(7, 8, 9, 10));  // alNone keeps its place

  // The order is that of the current top edges, not of the calls.
  second->move(0, -1);
  Realign(&parent);
  EXPECT_EQ(second->geometry(), QRect(0, 0, 400, 30));
  EXPECT_EQ(first->geometry(), QRect(0, 30, 400, 20));
}

TEST(AlignLayout, BottomLeftAndRightShareWhatTheTopLeaves) {
  QWidget parent;
  parent.resize(200, 100);
  QWidget* top = child(&parent, 0, 0, 1, 10);
  QWidget* bottomLow = child(&parent, 0, 90, 1, 10);
  QWidget* bottomHigh = child(&parent, 0, 60, 1, 20);
  QWidget* left = child(&parent, 0, 0, 30, 1);
  QWidget* right = child(&parent, 150, 0, 40, 1);
  QWidget* client = child(&parent, 0, 0, 1, 1);
  SetAlign(top, alTop);
  SetAlign(bottomLow, alBottom);
  SetAlign(bottomHigh, alBottom);
  SetAlign(left, alLeft);
  SetAlign(right, alRight);
  SetAlign(client, alClient);

  EXPECT_EQ(top->geometry(), QRect(0, 0, 200, 10));
  EXPECT_EQ(bottomLow->geometry(), QRect(0, 90, 200, 10));
  EXPECT_EQ(bottomHigh->geometry(), QRect(0, 70, 200, 20));
  EXPECT_EQ(left->geometry(), QRect(0, 10, 30, 60));
  EXPECT_EQ(right->geometry(), QRect(160, 10, 40, 60));
  EXPECT_EQ(client->geometry(), QRect(30, 10, 130, 60));
}

TEST(AlignLayout, AlignedControlsStayInsideTheParentsFrame) {
  QFrame parent;
  parent.setFrameStyle(QFrame::Panel | QFrame::Raised);
  parent.setLineWidth(1);
  parent.resize(439, 139);
  QWidget* c = child(&parent, 0, 0, 1, 72);
  SetAlign(c, alTop);
  EXPECT_EQ(c->geometry(), QRect(1, 1, 437, 72));
}

// The open flow's steps on a hidden tree: a box 584 high with a 150-pixel panel
// at the bottom and a diagram panel that is then made top-aligned, sized, and
// filled with four quarter-height charts; last the control panel goes to the top.
TEST(AlignLayout, OpenFlowStepsGiveQuarterChartsAboveTheControlPanel) {
  QWidget box;
  box.resize(924, 584);
  QWidget* direct = child(&box, 0, 430, 924, 150);
  QWidget* diagrams = child(&box, 0, 0, 924, 430);
  QWidget* chart1 = child(diagrams, 0, 1, 918, 72);
  QWidget* chart3 = child(diagrams, 0, 73, 918, 64);
  QWidget* chart2 = child(diagrams, 0, 137, 918, 104);
  QWidget* chart4 = child(diagrams, 0, 241, 918, 120);
  SetAlign(direct, alBottom);
  SetAlign(diagrams, alClient);
  for (QWidget* c : {chart1, chart3, chart2, chart4}) SetAlign(c, alTop);  // as designed

  SetAlign(diagrams, alTop);
  SetHeight(diagrams, box.height() - direct->height());
  for (QWidget* c : {chart1, chart2, chart3, chart4}) SetAlign(c, alTop);  // no change
  for (QWidget* c : {chart1, chart2, chart3, chart4}) SetHeight(c, diagrams->height() / 4);
  SetAlign(direct, alTop);

  EXPECT_EQ(diagrams->geometry(), QRect(0, 0, 924, 434));
  EXPECT_EQ(direct->geometry(), QRect(0, 434, 924, 150));
  EXPECT_EQ(chart1->geometry(), QRect(0, 0, 924, 108));
  EXPECT_EQ(chart3->y(), 108);
  EXPECT_EQ(chart2->y(), 216);
  EXPECT_EQ(chart4->y(), 324);

  // Later size changes follow the width only; top-aligned heights stay.
  box.resize(1200, 700);
  AlignLayout::Realign(&box);
  EXPECT_EQ(diagrams->geometry(), QRect(0, 0, 1200, 434));
  EXPECT_EQ(chart4->geometry(), QRect(0, 324, 1200, 108));
  EXPECT_EQ(direct->geometry(), QRect(0, 434, 1200, 150));
}

TEST(AlignLayout, ShownTreeFollowsParentResizeAndHiddenControlsTakeNoRoom) {
  QWidget parent;
  parent.resize(300, 200);
  QWidget* a = child(&parent, 0, 0, 1, 40);
  QWidget* b = child(&parent, 0, 50, 1, 40);
  QWidget* client = child(&parent, 0, 0, 1, 1);
  SetAlign(a, alTop);
  SetAlign(b, alTop);
  SetAlign(client, alClient);
  parent.show();

  parent.resize(500, 300);  // delivered at once to a shown widget
  EXPECT_EQ(b->geometry(), QRect(0, 40, 500, 40));
  EXPECT_EQ(client->geometry(), QRect(0, 80, 500, 220));

  a->hide();
  EXPECT_EQ(b->geometry(), QRect(0, 0, 500, 40));
  EXPECT_EQ(client->geometry(), QRect(0, 40, 500, 260));

  b->resize(b->width(), 100);  // a plain resize of a shown control re-aligns too
  EXPECT_EQ(client->geometry(), QRect(0, 100, 500, 200));
}
