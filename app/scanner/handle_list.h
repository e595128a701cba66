// A doubly linked list of relocatable blocks with a cursor.
//
// The list is a header block; each node is a block that begins with HandleListLinks and carries
// its payload after them. A handle is taken as a list only when its header's `self` is that
// handle, and as a node of a list only when its `owner` is the list, so a stray or foreign handle
// is refused (0, null or -1) instead of being followed.
#pragma once

#include "toolbox.h"

#include <cstdint>

struct HandleListHeader {
    Handle head;
    int32_t count;
    Handle self;
    Handle current;
    int32_t spare;
};

// The first bytes of every node.
struct HandleListLinks {
    Handle prev;
    Handle next;
    Handle owner; // the list's handle; null while the node is in no list
};

// Answers non-zero for the node searched for.
using HListPredicate = int (*)(Handle node, void* context);
// Answers a negative number when the pair (first, second) is to be swapped.
using HListCompare = int (*)(Handle first, Handle second, void* context);
// Releases what a node's payload owns; the list then disposes the node.
using HListDisposer = void (*)(Handle node, void* context);

// An empty list, or null when out of memory.
Handle HListNew();
bool HListIsList(Handle list);
// Whether `node` is a node of `list`.
bool HListIsNode(Handle list, Handle node);
// Nodes in the list; -1 for an invalid list.
int32_t HListCount(Handle list);
Handle HListHead(Handle list);
// Found by walking forward from the cursor.
Handle HListTail(Handle list);
Handle HListCurrent(Handle list);
// Move the cursor; each answers the new current node (null when invalid or empty).
Handle HListRewind(Handle list);
Handle HListToTail(Handle list);
Handle HListSetCurrent(Handle list, Handle node);
// The node n places after `node` (before it for negative n), stopping at the ends.
Handle HListStep(Handle list, Handle node, int32_t n);
// Insert a node that is in no list (its owner is null) after or before `reference`, which must be
// a node of the list unless the list is empty. The inserted node becomes current. 1 or 0.
int16_t HListInsertAfter(Handle list, Handle node, Handle reference);
int16_t HListInsertBefore(Handle list, Handle node, Handle reference);
// Unlinks a node without disposing of it. When it was current, the cursor moves to its successor,
// or to its predecessor when it was last. 1 or 0.
int16_t HListRemove(Handle list, Handle node);
// Moves a node n places (re-inserted after the node n places on, or before the node |n| places
// back), keeping the cursor. 1 or 0.
int16_t HListMove(Handle list, Handle node, int32_t n);
// Forward from `start` (the head when null): 0 with *found set at the first node the predicate
// accepts, 1 at the end, -1 for an invalid list, start node or predicate.
int16_t HListSearch(Handle list, Handle start, HListPredicate predicate, void* context, Handle* found);
// The same backward from the tail.
int16_t HListSearchBackward(Handle list, HListPredicate predicate, void* context, Handle* found);
// Bubble sort: passes from the head over count - 1, count - 2, ... neighbour pairs. 1 or 0.
int16_t HListSort(Handle list, HListCompare compare, void* context);
// Calls the disposer (when given) on each node from the head, disposes of the nodes and then of
// the header. 1 or 0 (an invalid list is left alone).
int16_t HListDispose(Handle list, HListDisposer disposer, void* context);
bool HListIsFirst(Handle list, Handle node);
bool HListIsLast(Handle list, Handle node);
bool HListIsCurrent(Handle list, Handle node);
