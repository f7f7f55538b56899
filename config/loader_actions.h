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
// False, after its line in the log, for a zone that is not known.
bool set_time_zone(char *literal);
void set_file_time_utc(bool utc);

ATTRIBUTE *new_node(int type, int sub_type, char *name, char *argument, ATTRIBUTE *child);
ATTRIBUTE *append(ATTRIBUTE *list, ATTRIBUTE *item);
// A column or a NEEDS condition with its path; null, after its line in the log, when an
// attribute name (@name) stands where it cannot.
ATTRIBUTE *new_column(int type, int sub_type, char *name, char *argument, ATTRIBUTE *path);
ATTRIBUTE *new_condition(ATTRIBUTE *path);

#endif
