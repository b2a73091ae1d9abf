// Control alignment as the forms are designed with it: a control's Align says
// where its parent puts it.
//
// Contract (one parent's content area = its contentsRect(), i.e. inside a frame's border):
//  - alTop controls are stacked from the top, full width, each keeping its height,
//    in the order of their current top edge (ties: the control that triggered the
//    re-alignment first, then child order);
//  - alBottom controls are stacked from the bottom, in the order of their current
//    bottom edge, lowest first;
//  - alLeft / alRight do the same along the sides of what is left, keeping widths;
//  - alClient controls fill what remains;
//  - alNone controls (the default) keep whatever geometry they are given;
//  - explicitly hidden controls take no room.
// A parent re-aligns at once when SetAlign or SetHeight/SetWidth is used on one of its
// controls, when its own size changes, and when an aligned child changes size or
// position. Re-aligning a control re-aligns its own aligned children too, so a
// change travels down the tree even while the widgets are still hidden (Qt delivers
// resize events of hidden widgets only when they are shown).
// Setting the alignment a control already has changes nothing. The order is taken
// from the positions at each re-alignment, so a tree built control by control sets
// the alignments in stacking order (or places every control first).
#pragma once

class QWidget;

namespace AlignLayout {

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

TAlign Align(const QWidget* control);
// Sets the control's alignment and re-aligns its parent.
void SetAlign(QWidget* control, TAlign align);
// Resize one dimension and re-align the parent (the height counts for alTop/alBottom,
// the width for alLeft/alRight; alClient and the other dimension are the parent's).
void SetHeight(QWidget* control, int height);
void SetWidth(QWidget* control, int width);
// Lays out the aligned children of `parent` now. `changed`, when given, wins ties.
void Realign(QWidget* parent, const QWidget* changed = nullptr);

}  // namespace AlignLayout
