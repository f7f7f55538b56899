// element_stack.h - what the XML reader hands the handler (text, attributes) and the
// stack of open elements that paths are matched against.

#ifndef CORVANE_ELEMENT_STACK_H
#define CORVANE_ELEMENT_STACK_H

#include <string_view>

#include "runtime/byte_string.h"

// A piece of UTF-8 text handed over by the XML reader; valid during the call only.
struct XML_TEXT {
    const char *data;
    int size;
};

// An attribute as the handler sees it: its local name (prefix left off) and its value.
struct XML_ATTRIBUTE {
    XML_TEXT local_name;
    XML_TEXT value;
};

// The open elements, outermost first: their qualified names, and for each the number
// under which the record description knows that name (0 for a name no path uses).
class ELEMENT_STACK
{
public:
    // The deepest nesting kept; the handler refuses anything deeper before pushing.
    static constexpr int CAPACITY = 256;

    int size() const { return depth; }
    bool empty() const { return depth == 0; }
    std::string_view name(int level) const
    {
        const int end = level + 1 < depth ? starts[level + 1] : text.size();
        return std::string_view(text.data() + starts[level],
                                static_cast<size_t>(end - starts[level]));
    }
    int id(int level) const { return ids[level]; }
    std::string_view innermost() const { return name(depth - 1); }
    int innermost_id() const { return ids[depth - 1]; }

    void push(XML_TEXT name, int name_id)
    {
        starts[depth] = text.size();
        ids[depth] = name_id;
        ++depth;
        text.append(name.data, name.size);
    }
    void pop()
    {
        --depth;
        text.truncate(starts[depth]);
    }
    void clear()
    {
        text.clear();
        depth = 0;
    }

private:
    // All open names one after the other: a document does not allocate per element.
    BYTE_STRING text;
    int depth = 0;
    int starts[CAPACITY];
    int ids[CAPACITY];
};

#endif
