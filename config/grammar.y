/* grammar.y - the configuration language; every action is one call into loader.cpp. */
%code requires {
class ATTRIBUTE;
}

%code {
#include "config/loader_actions.h"
}

%define api.prefix {global_}
%define api.token.prefix {TK_}
%expect 0

%union {
    char *text;
    int number;
    ATTRIBUTE *node;
}

%destructor { free($$); } <text>

/* The order is fixed: bison numbers these from 258 and the numbers double as node
   types of the record description tree (config/tokens.h). */
%token <text> STRING
%token <text> IDENTIFIER
%token <number> NUMBER
%token GLOBALS VERSION FILE_MASK TIME_FORMAT COLUMN_SEPARATOR HEADER_SIZE_MAX
%token INPUTFILE GENERATES MEASUREMENT MEASUREMENTNAME GRANULARITY H24 MIN15 EVENT
%token MATCH AND NEEDS VOID POINTER COLUMNS
%token ATTRIBUTE ATTRIBUTE_BOOL ATTRIBUTE_CONVERT ATTRIBUTE_REGEXP UTC_FILESTAMP
%token MS_TO_UTC MS_TO_LOCAL STRING_TO_LOCAL STRING_TO_UTC ATTRIBUTE_ARG
%token MISSING_VALUES EMPTY REPEAT WORDLIST ELEMENTLIST LISTKEY ELEMENTNAME
%token DURATION_TO_SECONDS TIME_ZONE FILE_TIME UTC LOCAL

%type <node> inputfile_blocks inputfile_block measurement_blocks measurement_block
%type <node> measurement_items measurement_item match_items match_item path path_element
%type <node> column_items column_item

%%

configuration
    : GLOBALS '{' global_settings '}' inputfile_blocks { set_record_descriptions($5); }
    ;
global_settings
    : global_settings global_setting
    | %empty
    ;
global_setting
    : VERSION STRING          { set_file_tag($2); }
    | FILE_MASK STRING        { set_file_mask($2); }
    | TIME_FORMAT STRING      { set_time_format($2); }
    | COLUMN_SEPARATOR STRING { set_column_separator($2); }
    | HEADER_SIZE_MAX NUMBER  { set_max_header_size($2); }
    | MISSING_VALUES EMPTY    { set_missing_values(true); }
    | MISSING_VALUES REPEAT   { set_missing_values(false); }
    | TIME_ZONE STRING        { if (!set_time_zone($2)) YYABORT; }
    | FILE_TIME UTC           { set_file_time_utc(true); }
    | FILE_TIME LOCAL         { set_file_time_utc(false); }
    ;
inputfile_blocks
    : inputfile_blocks inputfile_block { $$ = append($1, $2); }
    | %empty                           { $$ = nullptr; }
    ;
inputfile_block
    : INPUTFILE STRING '{' measurement_blocks '}' { $$ = new_node(TK_INPUTFILE, 0, $2, nullptr, $4); }
    ;
measurement_blocks
    : measurement_blocks measurement_block { $$ = append($1, $2); }
    | %empty                               { $$ = nullptr; }
    ;
measurement_block
    : GENERATES MEASUREMENT '{' measurement_items '}' { $$ = new_node(TK_MEASUREMENT, 0, nullptr, nullptr, $4); }
    ;
measurement_items
    : measurement_items measurement_item { $$ = append($1, $2); }
    | %empty                             { $$ = nullptr; }
    ;
measurement_item
    : MEASUREMENTNAME STRING         { $$ = new_node(TK_MEASUREMENTNAME, 0, $2, nullptr, nullptr); }
    | GRANULARITY H24                { $$ = new_node(TK_GRANULARITY, TK_H24, nullptr, nullptr, nullptr); }
    | GRANULARITY MIN15              { $$ = new_node(TK_GRANULARITY, TK_MIN15, nullptr, nullptr, nullptr); }
    | GRANULARITY EVENT              { $$ = new_node(TK_GRANULARITY, TK_EVENT, nullptr, nullptr, nullptr); }
    | MATCH '{' match_items '}'      { $$ = new_node(TK_MATCH, 0, nullptr, nullptr, $3); }
    | COLUMNS '{' column_items '}'   { $$ = new_node(TK_COLUMNS, 0, nullptr, nullptr, $3); }
    ;
match_items
    : match_items match_item { $$ = append($1, $2); }
    | %empty                 { $$ = nullptr; }
    ;
match_item
    : NEEDS path     { if (!($$ = new_condition($2))) YYABORT; }
    | AND NEEDS path { if (!($$ = new_condition($3))) YYABORT; }
    | VOID           { $$ = new_node(TK_VOID, 0, nullptr, nullptr, nullptr); }
    ;
path
    : path POINTER path_element { $$ = append($1, $3); }
    | path_element              { $$ = $1; }
    | %empty                    { $$ = nullptr; }
    ;
path_element
    : STRING { $$ = new_node(TK_POINTER, 0, $1, nullptr, nullptr); }
    ;
column_items
    : column_items column_item { $$ = append($1, $2); }
    | %empty                   { $$ = nullptr; }
    ;
column_item
    : UTC_FILESTAMP STRING
        { $$ = new_node(TK_UTC_FILESTAMP, 0, $2, nullptr, nullptr); }
    | ATTRIBUTE_CONVERT MS_TO_UTC '(' path ')' STRING
        { if (!($$ = new_column(TK_ATTRIBUTE_CONVERT, TK_MS_TO_UTC, $6, nullptr, $4))) YYABORT; }
    | ATTRIBUTE_CONVERT MS_TO_LOCAL '(' path ')' STRING
        { if (!($$ = new_column(TK_ATTRIBUTE_CONVERT, TK_MS_TO_LOCAL, $6, nullptr, $4))) YYABORT; }
    | ATTRIBUTE_CONVERT STRING_TO_LOCAL '(' path ',' STRING ')' STRING
        { if (!($$ = new_column(TK_ATTRIBUTE_CONVERT, TK_STRING_TO_LOCAL, $8, $6, $4))) YYABORT; }
    | ATTRIBUTE_CONVERT STRING_TO_UTC '(' path ',' STRING ')' STRING
        { if (!($$ = new_column(TK_ATTRIBUTE_CONVERT, TK_STRING_TO_UTC, $8, $6, $4))) YYABORT; }
    | ATTRIBUTE_CONVERT DURATION_TO_SECONDS '(' path ')' STRING
        { if (!($$ = new_column(TK_ATTRIBUTE_CONVERT, TK_DURATION_TO_SECONDS, $6, nullptr, $4))) YYABORT; }
    | ATTRIBUTE '(' path ')' STRING
        { if (!($$ = new_column(TK_ATTRIBUTE, 0, $5, nullptr, $3))) YYABORT; }
    | ATTRIBUTE_BOOL '(' path ',' STRING ')' STRING
        { if (!($$ = new_column(TK_ATTRIBUTE_BOOL, 0, $7, $5, $3))) YYABORT; }
    | ATTRIBUTE_REGEXP '(' path ',' STRING ')' STRING
        { if (!($$ = new_column(TK_ATTRIBUTE_REGEXP, 0, $7, $5, $3))) YYABORT; }
    | ATTRIBUTE_ARG '(' path ',' STRING ')' STRING
        { if (!($$ = new_column(TK_ATTRIBUTE_ARG, 0, $7, $5, $3))) YYABORT; }
    | WORDLIST '(' path ')' STRING
        { if (!($$ = new_column(TK_WORDLIST, 0, $5, nullptr, $3))) YYABORT; }
    | ELEMENTLIST '(' path ')' STRING
        { if (!($$ = new_column(TK_ELEMENTLIST, 0, $5, nullptr, $3))) YYABORT; }
    | ELEMENTLIST '(' path ',' STRING ')' STRING
        { if (!($$ = new_column(TK_ELEMENTLIST, TK_ATTRIBUTE_ARG, $7, $5, $3))) YYABORT; }
    | LISTKEY STRING
        { $$ = new_node(TK_LISTKEY, 0, $2, nullptr, nullptr); }
    | ELEMENTNAME '(' path ')' STRING
        { if (!($$ = new_column(TK_ELEMENTNAME, 0, $5, nullptr, $3))) YYABORT; }
    ;

%%
