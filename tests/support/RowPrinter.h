// GoogleTest prints a test parameter it has no printer for as a dump of its
// bytes; a table row says more by its name. Place the macro beside the row type,
// in the same namespace, so that GoogleTest finds the printer.
#ifndef ZEPHRIN_TESTS_SUPPORT_ROW_PRINTER_H_
#define ZEPHRIN_TESTS_SUPPORT_ROW_PRINTER_H_

#include <ostream>

#define ZEPHRIN_PRINT_ROW_BY_NAME(RowType)                                      \
  [[maybe_unused]] inline void PrintTo(const RowType &Row, std::ostream *Out) { \
    *Out << Row.Name;                                                           \
  }

#endif  // ZEPHRIN_TESTS_SUPPORT_ROW_PRINTER_H_
