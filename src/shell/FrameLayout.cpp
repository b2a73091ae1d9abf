#include "shell/FrameLayout.h"

#include "editor/Tembrix.h"
#include "platform/AlignLayout.h"

#include <algorithm>

void LayOutFrame(TFrameTembrix& frame) {
  using namespace AlignLayout;
  // The frame's own size first: a hidden frame has not passed its resizes on.
  Realign(&frame);
  SetAlign(frame.ScrollBox1, alClient);
  frame.repaint();
  SetAlign(frame.PanelDirect, alBottom);
  frame.repaint();
  SetAlign(frame.PanelDiagramms, alTop);
  // A window too small for the control panel gets an empty diagram panel.
  SetHeight(frame.PanelDiagramms, std::max(0, frame.ScrollBox1->height() - frame.PanelDirect->height()));
  frame.repaint();
  for (QWidget* chart : {frame.Chart1, frame.Chart2, frame.Chart3, frame.Chart4}) SetAlign(chart, alTop);
  for (QWidget* chart : {frame.Chart1, frame.Chart2, frame.Chart3, frame.Chart4})
    SetHeight(chart, frame.PanelDiagramms->height() / 4);
  // Its bottom edge lies below the diagram panel now, so it stacks under it.
  SetAlign(frame.PanelDirect, alTop);
  frame.repaint();
}
