#include "handle_list.h"

namespace {

HandleListHeader* header(Handle list)
{
    return HandleData<HandleListHeader>(list);
}

HandleListLinks* links(Handle node)
{
    return HandleData<HandleListLinks>(node);
}

bool isBlockOf(Handle handle, long size)
{
    return handle != nullptr && GetHandleSize(handle) >= size;
}

// A block that can carry the links and belongs to no list yet.
bool isFreeNode(Handle node)
{
    return isBlockOf(node, sizeof(HandleListLinks)) && links(node)->owner == nullptr;
}

void link(Handle list, Handle node, Handle prev, Handle next)
{
    HandleListLinks* l = links(node);
    l->prev = prev;
    l->next = next;
    l->owner = list;
    if (prev != nullptr) links(prev)->next = node;
    else header(list)->head = node;
    if (next != nullptr) links(next)->prev = node;
    header(list)->count++;
    header(list)->current = node;
}

void unlink(Handle list, Handle node)
{
    HandleListLinks* l = links(node);
    if (l->prev != nullptr) links(l->prev)->next = l->next;
    else header(list)->head = l->next;
    if (l->next != nullptr) links(l->next)->prev = l->prev;
    header(list)->count--;
    *l = HandleListLinks{};
}

} // namespace

Handle HListNew()
{
    Handle list = NewHandleClear(sizeof(HandleListHeader));
    if (list != nullptr) header(list)->self = list;
    return list;
}

bool HListIsList(Handle list)
{
    return isBlockOf(list, sizeof(HandleListHeader)) && header(list)->self == list;
}

bool HListIsNode(Handle list, Handle node)
{
    return HListIsList(list) && isBlockOf(node, sizeof(HandleListLinks)) && links(node)->owner == list;
}

int32_t HListCount(Handle list)
{
    return HListIsList(list) ? header(list)->count : -1;
}

Handle HListHead(Handle list)
{
    return HListIsList(list) ? header(list)->head : nullptr;
}

Handle HListTail(Handle list)
{
    if (!HListIsList(list)) return nullptr;
    Handle node = header(list)->current != nullptr ? header(list)->current : header(list)->head;
    while (node != nullptr && links(node)->next != nullptr) node = links(node)->next;
    return node;
}

Handle HListCurrent(Handle list)
{
    return HListIsList(list) ? header(list)->current : nullptr;
}

Handle HListRewind(Handle list)
{
    if (!HListIsList(list)) return nullptr;
    return header(list)->current = header(list)->head;
}

Handle HListToTail(Handle list)
{
    if (!HListIsList(list)) return nullptr;
    return header(list)->current = HListTail(list);
}

Handle HListSetCurrent(Handle list, Handle node)
{
    if (!HListIsNode(list, node)) return nullptr;
    return header(list)->current = node;
}

Handle HListStep(Handle list, Handle node, int32_t n)
{
    if (!HListIsNode(list, node)) return nullptr;
    for (; n > 0 && links(node)->next != nullptr; n--) node = links(node)->next;
    for (; n < 0 && links(node)->prev != nullptr; n++) node = links(node)->prev;
    return node;
}

int16_t HListInsertAfter(Handle list, Handle node, Handle reference)
{
    if (!HListIsList(list) || !isFreeNode(node)) return 0;
    if (header(list)->count == 0) {
        link(list, node, nullptr, nullptr);
        return 1;
    }
    if (!HListIsNode(list, reference)) return 0;
    link(list, node, reference, links(reference)->next);
    return 1;
}

int16_t HListInsertBefore(Handle list, Handle node, Handle reference)
{
    if (!HListIsList(list) || !isFreeNode(node)) return 0;
    if (header(list)->count == 0) {
        link(list, node, nullptr, nullptr);
        return 1;
    }
    if (!HListIsNode(list, reference)) return 0;
    link(list, node, links(reference)->prev, reference);
    return 1;
}

int16_t HListRemove(Handle list, Handle node)
{
    if (!HListIsNode(list, node)) return 0;
    if (header(list)->current == node)
        header(list)->current = links(node)->next != nullptr ? links(node)->next : links(node)->prev;
    unlink(list, node);
    return 1;
}

int16_t HListMove(Handle list, Handle node, int32_t n)
{
    if (!HListIsNode(list, node)) return 0;
    Handle target = HListStep(list, node, n);
    if (target == node) return 1;
    // The cursor stays where it was; when it stood on the moved node, it still does.
    Handle cursor = header(list)->current;
    unlink(list, node);
    if (n > 0) link(list, node, target, links(target)->next);
    else link(list, node, links(target)->prev, target);
    header(list)->current = cursor;
    return 1;
}

int16_t HListSearch(Handle list, Handle start, HListPredicate predicate, void* context, Handle* found)
{
    if (found != nullptr) *found = nullptr;
    if (!HListIsList(list) || predicate == nullptr) return -1;
    if (start != nullptr && !HListIsNode(list, start)) return -1;
    for (Handle node = start != nullptr ? start : header(list)->head; node != nullptr; node = links(node)->next) {
        if (predicate(node, context) != 0) {
            if (found != nullptr) *found = node;
            return 0;
        }
    }
    return 1;
}

int16_t HListSearchBackward(Handle list, HListPredicate predicate, void* context, Handle* found)
{
    if (found != nullptr) *found = nullptr;
    if (!HListIsList(list) || predicate == nullptr) return -1;
    for (Handle node = HListTail(list); node != nullptr; node = links(node)->prev) {
        if (predicate(node, context) != 0) {
            if (found != nullptr) *found = node;
            return 0;
        }
    }
    return 1;
}

int16_t HListSort(Handle list, HListCompare compare, void* context)
{
    if (!HListIsList(list) || compare == nullptr) return 0;
    Handle cursor = header(list)->current;
    for (int32_t pairs = header(list)->count - 1; pairs > 0; pairs--) {
        Handle first = header(list)->head;
        for (int32_t i = 0; i < pairs; i++) {
            Handle second = links(first)->next;
            if (compare(first, second, context) < 0) {
                // Swap the neighbours: `second` moves in front of `first`, which stays the next
                // pair's first node.
                Handle before = links(first)->prev;
                unlink(list, second);
                link(list, second, before, first);
            } else {
                first = second;
            }
        }
    }
    header(list)->current = cursor;
    return 1;
}

int16_t HListDispose(Handle list, HListDisposer disposer, void* context)
{
    if (!HListIsList(list)) return 0;
    Handle node = header(list)->head;
    while (node != nullptr) {
        Handle next = links(node)->next;
        if (disposer != nullptr) disposer(node, context);
        DisposeHandle(node);
        node = next;
    }
    header(list)->self = nullptr;
    DisposeHandle(list);
    return 1;
}

bool HListIsFirst(Handle list, Handle node)
{
    return HListIsNode(list, node) && links(node)->prev == nullptr;
}

bool HListIsLast(Handle list, Handle node)
{
    return HListIsNode(list, node) && links(node)->next == nullptr;
}

bool HListIsCurrent(Handle list, Handle node)
{
    return HListIsNode(list, node) && header(list)->current == node;
}
