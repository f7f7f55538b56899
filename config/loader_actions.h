// loader_actions.h - what the grammar's actions call. Every char* argument is a literal
// copy made by the scanner; the called function takes it over and frees it.

#ifndef CORVANE_LOADER_ACTIONS_H
#define CORVANE_LOADER_ACTIONS_H

class ATTRIBUTE;

void global_error(const char *message);
int global_lex();

void set_record_descriptions(ATTRIBUTE *list);
void set_file_tag(char *literal);
void set_file_mask(char *literal);
void set_time_format(char *literal);
void set_column_separator(char *literal);
void set_max_header_size(int size);
void set_missing_values(bool empty);

ATTRIBUTE *new_node(int type, int sub_type, char *name, char *argument, ATTRIBUTE *child);
ATTRIBUTE *append(ATTRIBUTE *list, ATTRIBUTE *item);

#endif
