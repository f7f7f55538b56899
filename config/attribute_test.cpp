// attribute_test.cpp - search order, clearing of captured values and the tree listing.

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/attribute.h"
#include "config/test_support.h"
#include "runtime/runtime.h"

namespace
{

class Tree : public ::testing::Test
{
protected:
    void TearDown() override { GL_param.debug_level = 0; }

    // A node whose child list is the given nodes, linked in that order.
    ATTRIBUTE *node(int type, std::vector<ATTRIBUTE *> children = {}, const char *name = "",
                    int sub_type = 0, const char *argument = "")
    {
        owned.push_back(std::make_unique<ATTRIBUTE>(type, sub_type));
        ATTRIBUTE *made = owned.back().get();
        made->name = QString::fromLatin1(name);
        made->argument = QString::fromLatin1(argument);
        made->child = chain(children);
        return made;
    }
    static ATTRIBUTE *chain(const std::vector<ATTRIBUTE *> &nodes)
    {
        for (size_t i = 0; i + 1 < nodes.size(); ++i)
            nodes[i]->next = nodes[i + 1];
        return nodes.empty() ? nullptr : nodes.front();
    }
    ATTRIBUTE *column(int type, const char *name, const char *result)
    {
        ATTRIBUTE *made = node(type, {node(tok::POINTER, {}, "a")}, name, 0, "arg");
        made->result = result;
        made->pointer_count = 1;
        return made;
    }

    std::vector<std::unique_ptr<ATTRIBUTE>> owned;
};

TEST_F(Tree, FindIsPreOrderAndRunsOnPastTheStartNode)
{
    ATTRIBUTE *name = node(tok::MEASUREMENTNAME, {}, "first");
    ATTRIBUTE *first = node(tok::MEASUREMENT, {name, node(tok::MATCH, {node(tok::VOID)})});
    ATTRIBUTE *inner = node(tok::COLUMNS);
    ATTRIBUTE *second = node(tok::MEASUREMENT, {node(tok::MATCH, {node(tok::NEEDS, {inner})})});
    ATTRIBUTE *later = node(tok::COLUMNS);
    chain({first, second, node(tok::MEASUREMENT, {later})});

    EXPECT_EQ(ATTRIBUTE::find(nullptr, tok::COLUMNS), nullptr);
    EXPECT_EQ(first->find(tok::MEASUREMENT), first) << "the start node itself counts";
    EXPECT_EQ(first->find(tok::MEASUREMENTNAME), name);
    // first has no COLUMNS: the search goes on into the following measurements, and
    // a COLUMNS deep in second's sub-tree is met before the one of the third.
    EXPECT_EQ(first->find(tok::COLUMNS), inner);
    EXPECT_EQ(ATTRIBUTE::find(second->next, tok::COLUMNS), later);
    EXPECT_EQ(first->find(tok::ATTRIBUTE_ARG), nullptr);
}

TEST_F(Tree, ClearResultEmptiesEveryColumnListAlongTheChain)
{
    ATTRIBUTE *a = column(tok::ATTRIBUTE, "A", "1");
    ATTRIBUTE *b = column(tok::ATTRIBUTE_BOOL, "B", "2");
    ATTRIBUTE *c = column(tok::ATTRIBUTE_ARG, "C", "3");
    ATTRIBUTE *other = node(tok::NEEDS);
    other->result = "not a column";
    ATTRIBUTE *columns = node(tok::COLUMNS, {a, b});
    chain({columns, node(tok::MATCH, {other}), node(tok::MEASUREMENT, {node(tok::COLUMNS, {c})})});

    ATTRIBUTE::clear_result(columns);
    for (ATTRIBUTE *col : {a, b, c}) {
        EXPECT_TRUE(col->result.isEmpty());
        EXPECT_FALSE(col->name.isEmpty());
        EXPECT_EQ(col->argument, QStringLiteral("arg"));
        EXPECT_EQ(col->pointer_count, 1);
    }
    EXPECT_EQ(other->result.view(), "not a column");

    // Every invocation leaves its trace, the recursive ones and the absent lists too:
    // COLUMNS, its column, the column's path node and that node's absent child.
    GL_param.debug_level = 3;
    ATTRIBUTE *single = node(tok::COLUMNS, {column(tok::ATTRIBUTE, "X", "x")});
    std::vector<std::string> lines = logged_by([&] { ATTRIBUTE::clear_result(single); });
    EXPECT_EQ(lines, std::vector<std::string>(4, "CALLED: ATTRIBUTE::clear_result()"));
}

TEST_F(Tree, DumpListsEveryNodeKindIndentedByFour)
{
    using tok::POINTER;
    auto path = [&](const char *element) { return node(POINTER, {}, element); };
    ATTRIBUTE *columns =
        node(tok::COLUMNS,
             {node(tok::UTC_FILESTAMP, {}, "T"), node(tok::ATTRIBUTE, {path("x"), path("y")}, "A"),
              node(tok::ATTRIBUTE_BOOL, {path("x")}, "B", 0, ""),
              node(tok::ATTRIBUTE_REGEXP, {}, "R", 0, "^(%1)$"),
              node(tok::ATTRIBUTE_ARG, {}, "G", 0, "%2"),
              node(tok::ATTRIBUTE_CONVERT, {}, "U", tok::MS_TO_UTC),
              node(tok::ATTRIBUTE_CONVERT, {}, "L", tok::MS_TO_LOCAL),
              node(tok::ATTRIBUTE_CONVERT, {}, "SL", tok::STRING_TO_LOCAL, "yyyy"),
              node(tok::ATTRIBUTE_CONVERT, {}, "SU", tok::STRING_TO_UTC, "hh:mm"),
              node(tok::ATTRIBUTE_CONVERT, {path("z")}, "bad", tok::EVENT)});
    ATTRIBUTE *measurement =
        node(tok::MEASUREMENT,
             {node(tok::MEASUREMENTNAME, {}, "load"), node(tok::GRANULARITY, {}, "", tok::H24),
              node(tok::GRANULARITY, {}, "", tok::MIN15),
              node(tok::GRANULARITY, {}, "", tok::EVENT), node(tok::GRANULARITY, {}, "", tok::VOID),
              node(tok::MATCH, {node(tok::NEEDS, {path("x")}), node(tok::VOID)}), columns});
    ATTRIBUTE *top = chain({node(tok::INPUTFILE, {measurement, node(tok::MEASUREMENT)}, "^a_"),
                            node(tok::AND, {node(tok::VOID)})});

    std::vector<std::string> lines = logged_by([&] { ATTRIBUTE::dump(top, 0); });
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "INPUTFILE = ^a_",
                         "    MEASUREMENT",
                         "        MEASUREMENTNAME = load",
                         "        GRANULARITY: H24",
                         "        GRANULARITY: MIN15",
                         "        GRANULARITY: EVENT",
                         "        ERROR: undefined subtype for GRANULARITY",
                         "        MATCH",
                         "            NEEDS",
                         "                POINTER = x",
                         "            VOID",
                         "        COLUMNS",
                         "            UTC_FILESTAMP T",
                         "            ATTRIBUTE ( POINTER ) A",
                         "                POINTER = x",
                         "                POINTER = y",
                         "            ATTRIBUTE_BOOL ( POINTER, \"\" ) B",
                         "                POINTER = x",
                         "            ATTRIBUTE_REGEXP ( POINTER, \"^(%1)$\" ) R",
                         "            ATTRIBUTE_ARG ( POINTER, \"%2\" ) G",
                         "            ATTRIBUTE_CONVERT MS_TO_UTC( POINTER ) U",
                         "            ATTRIBUTE_CONVERT MS_TO_LOCAL( POINTER ) L",
                         "            ATTRIBUTE_CONVERT STRING_TO_LOCAL( POINTER, yyyy ) SL",
                         "            ATTRIBUTE_CONVERT STRING_TO_UTC( POINTER, hh:mm ) SU",
                         "            ERROR: undefined subtype for ATTRIBUTE_CONVERT",
                         "                POINTER = z",
                         "    MEASUREMENT",
                         "undefined ATTRIBUTE type = 276",
                         "    VOID",
                     }));

    // One trace per invocation: the top list and every node with a child list.
    GL_param.debug_level = 3;
    lines = logged_by([&] { ATTRIBUTE::dump(measurement, 8); });
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "CALLED: ATTRIBUTE::dump()"), 8);
    EXPECT_EQ(lines.at(1), "        MEASUREMENT");
    EXPECT_EQ(logged_by([] { ATTRIBUTE::dump(nullptr, 0); }),
              std::vector<std::string>{"CALLED: ATTRIBUTE::dump()"});
}

} // namespace
