// Longest-match search over a suffix tree of the sliding window.
//
// Every text position in the window is a leaf; an internal node joins strings
// that agree for mLevel bytes. Inserting the current position walks down from
// the root of its first byte and yields the longest earlier match (up to
// MAXMATCH) in one descent; deleting the position that leaves the window keeps
// the tree to the window. Children are found through a hash of (parent, byte)
// whose buckets are doubly linked lists through mNext/mPrev.
#include "acpi_dxe/compress/CompressState.h"

namespace {

COMPRESS_STATE &S = mCompress;

// The child of Parent whose edge starts with Byte, or NIL.
inline NODE LzChild(NODE Parent, UINT8 Byte) {
  NODE Node = S.mNext[HashOf(Parent, Byte)];
  S.mParent[NIL] = Parent;  // sentinel: the walk stops at NIL at the latest
  while (S.mParent[Node] != Parent) Node = S.mNext[Node];
  return Node;
}

// Hangs Child under Parent at the head of the bucket for Byte.
inline VOID LzMakeChild(NODE Parent, UINT8 Byte, NODE Child) {
  UINT32 Bucket = HashOf(Parent, Byte);
  NODE Head = S.mNext[Bucket];
  S.mNext[Bucket] = Child;
  S.mNext[Child] = Head;
  S.mPrev[Head] = Child;
  S.mPrev[Child] = static_cast<NODE>(Bucket);
  S.mParent[Child] = Parent;
  S.mChildCount[Parent]++;
}

// Puts New in Old's place in Old's bucket chain.
inline VOID LzReplaceInChain(NODE Old, NODE New) {
  NODE Before = S.mPrev[Old];
  S.mPrev[New] = Before;
  S.mNext[Before] = New;
  NODE After = S.mNext[Old];
  S.mNext[New] = After;
  S.mPrev[After] = New;
}

// The match ended inside Old's edge, at mMatchLen: a new internal node takes
// Old's place and gets Old and the current position as children.
VOID LzSplit(NODE Old) {
  NODE New = S.mAvail;
  S.mAvail = S.mNext[New];
  S.mChildCount[New] = 0;
  LzReplaceInChain(Old, New);
  S.mParent[New] = S.mParent[Old];
  S.mLevel[New] = static_cast<UINT8>(S.mMatchLen);
  S.mPosition[New] = static_cast<NODE>(S.mPos);
  LzMakeChild(New, S.mText[S.mMatchPos + S.mMatchLen], Old);
  LzMakeChild(New, S.mText[S.mPos + S.mMatchLen], static_cast<NODE>(S.mPos));
}

// Position values are compared as signed 16-bit numbers; a position at or
// beyond mPos lies in the previous window and is taken WNDSIZ lower.
inline INT32 LzAdjusted(UINT32 Position) {
  INT32 Value = static_cast<INT16>(Position);
  return Value >= S.mPos ? Value - static_cast<INT32>(WNDSIZ) : Value;
}

// Previous match length >= 4: the match for this position is at least one
// shorter and starts one byte after the previous one. Climbs from that leaf to
// the deepest node the shorter match still passes, confirming positions on the
// way. Returns the node where the descent resumes; *Parent is its parent.
NODE LzResumeFromPreviousMatch(NODE *Parent) {
  S.mMatchLen--;
  NODE Node = static_cast<NODE>((S.mMatchPos + 1) | WNDSIZ);
  NODE Up;
  // A leaf replaced at MAXMATCH has no parent; its next link names the replacement.
  while ((Up = S.mParent[Node]) == NIL) Node = S.mNext[Node];
  while (S.mLevel[Up] >= S.mMatchLen) {
    Node = Up;
    Up = S.mParent[Up];
  }
  NODE Walk = Up;
  while ((S.mPosition[Walk] & PERC_FLAG) != 0) {
    S.mPosition[Walk] = static_cast<NODE>(S.mPos);
    Walk = S.mParent[Walk];
  }
  if (Walk < WNDSIZ) S.mPosition[Walk] = static_cast<NODE>(S.mPos | PERC_FLAG);
  *Parent = Up;
  return Node;
}

// The match reached MAXMATCH at leaf Old: the current position takes its place.
VOID LzReplaceLeaf(NODE Parent, NODE Old) {
  NODE Current = static_cast<NODE>(S.mPos);
  LzReplaceInChain(Old, Current);
  S.mParent[Current] = Parent;
  S.mParent[Old] = NIL;
  S.mNext[Old] = Current;
}

}  // namespace

VOID LzInitTree() {
  for (UINT32 Root = WNDSIZ; Root <= WNDSIZ + MAX_UINT8; Root++) {
    S.mLevel[Root] = 1;
    S.mPosition[Root] = NIL;
  }
  for (UINT32 Leaf = WNDSIZ; Leaf < WNDSIZ * 2; Leaf++) S.mParent[Leaf] = NIL;
  S.mAvail = 1;
  for (UINT32 Node = 1; Node < WNDSIZ - 1; Node++) S.mNext[Node] = static_cast<NODE>(Node + 1);
  S.mNext[WNDSIZ - 1] = NIL;
  for (UINT32 Bucket = WNDSIZ * 2; Bucket <= MAX_HASH_VAL; Bucket++) S.mNext[Bucket] = NIL;
}

// Inserts the current position and leaves the longest match in mMatchLen and
// mMatchPos. No chain limit: the descent is exact.
VOID LzInsertNode() {
  NODE Parent;
  NODE Node;
  if (S.mMatchLen >= 4) {
    Node = LzResumeFromPreviousMatch(&Parent);
  } else {
    Parent = static_cast<NODE>(S.mText[S.mPos] + WNDSIZ);
    UINT8 Byte = S.mText[S.mPos + 1];
    Node = LzChild(Parent, Byte);
    if (Node == NIL) {
      LzMakeChild(Parent, Byte, static_cast<NODE>(S.mPos));
      S.mMatchLen = 1;
      return;
    }
    S.mMatchLen = 2;
  }
  for (;;) {
    INT32 EdgeEnd;
    if (Node >= WNDSIZ) {
      EdgeEnd = MAXMATCH;
      S.mMatchPos = Node;
    } else {
      EdgeEnd = S.mLevel[Node];
      S.mMatchPos = S.mPosition[Node] & ~PERC_FLAG;
    }
    if (S.mMatchPos >= S.mPos) S.mMatchPos -= WNDSIZ;
    const UINT8 *Current = &S.mText[S.mPos + S.mMatchLen];
    const UINT8 *Earlier = &S.mText[S.mMatchPos + S.mMatchLen];
    while (S.mMatchLen < EdgeEnd) {
      if (*Current != *Earlier) {
        LzSplit(Node);
        return;
      }
      S.mMatchLen++;
      Current++;
      Earlier++;
    }
    if (S.mMatchLen >= static_cast<INT32>(MAXMATCH)) break;
    S.mPosition[Node] = static_cast<NODE>(S.mPos);
    Parent = Node;
    Node = LzChild(Parent, *Current);
    if (Node == NIL) {
      LzMakeChild(Parent, *Current, static_cast<NODE>(S.mPos));
      return;
    }
    S.mMatchLen++;
  }
  LzReplaceLeaf(Parent, Node);
}

// Removes the leaf of the current position (the string leaving the window).
// An internal node left with one child is merged away, and the positions
// recorded above it are brought up to date first.
VOID LzDeleteNode() {
  NODE Leaf = static_cast<NODE>(S.mPos);
  if (S.mParent[Leaf] == NIL) return;
  NODE Before = S.mPrev[Leaf];
  NODE After = S.mNext[Leaf];
  S.mNext[Before] = After;
  S.mPrev[After] = Before;
  NODE Node = S.mParent[Leaf];
  S.mParent[Leaf] = NIL;
  if (Node >= WNDSIZ || --S.mChildCount[Node] > 1) return;

  INT32 Start = LzAdjusted(S.mPosition[Node] & ~PERC_FLAG);
  INT32 Latest = Start;
  NODE Up = S.mParent[Node];
  UINT32 Recorded;
  while (((Recorded = S.mPosition[Up]) & PERC_FLAG) != 0) {
    INT32 Value = LzAdjusted(Recorded & ~PERC_FLAG);
    if (Value > Latest) Latest = Value;
    S.mPosition[Up] = static_cast<NODE>(Latest | WNDSIZ);
    Up = S.mParent[Up];
  }
  if (Up < WNDSIZ) {
    INT32 Value = LzAdjusted(Recorded);
    if (Value > Latest) Latest = Value;
    S.mPosition[Up] = static_cast<NODE>(Latest | WNDSIZ | PERC_FLAG);
  }

  NODE Only = LzChild(Node, S.mText[Start + S.mLevel[Node]]);
  NODE OnlyBefore = S.mPrev[Only];
  NODE OnlyAfter = S.mNext[Only];
  S.mNext[OnlyBefore] = OnlyAfter;
  S.mPrev[OnlyAfter] = OnlyBefore;
  LzReplaceInChain(Node, Only);
  S.mParent[Only] = S.mParent[Node];
  S.mParent[Node] = NIL;
  S.mNext[Node] = S.mAvail;
  S.mAvail = Node;
}
