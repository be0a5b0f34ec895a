#pragma once

#define IDC_HELP_TITLE 101
#define IDC_HELP_TEXT 102
