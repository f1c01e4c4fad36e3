// Using the engine: opens a table, lists two fields of every record, appends a record and shows
// the new record count. Built against the installed package (see CMakeLists.txt beside it).
//
//   zarbel_example TABLE    e.g. a copy of examples/sources/dbase3/CLIENTS.DBF (CP866 text)
#include <iostream>

#include "index/HXDBFNTX.h"
#include "platform/codepage.h"
#include "platform/exception.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: zarbel_example TABLE\n";
        return 2;
    }
    try {
        zarbel::THXDBFNTX table;
        table.SetDBFFileName(argv[1]);
        table.SetOEM(true);                   // the table's text is DOS Cyrillic (CP866)
        table.AccessMode().SetAccessMode(2);  // open for reading and writing
        table.Open();
        // Text comes out of the engine as CP1251; TableTextToUtf8 makes it readable here.
        auto text = [&](const char* field) { return zarbel::TableTextToUtf8(table.FieldByName(field).AsString(), true); };
        for (table.First(); !table.Eof(); table.Next())
            std::cout << table.RecNo() << ": " << text("NAME") << "| " << text("CITY") << "|\n";

        table.Append();
        table.FieldByName("NAME").SetAsString(zarbel::Utf8ToAnsi("Новый клиент"));
        table.FieldByName("CITY").SetAsString(zarbel::Utf8ToAnsi("Тверь"));
        table.FieldByName("SUM").SetAsFloat(12.5);
        table.Post();
        std::cout << "appended: " << text("NAME") << "| " << text("CITY") << "|\n";
        std::cout << "records: " << table.RecordCount() << "\n";
        table.Close();
    } catch (const zarbel::Exception& e) {  // every engine failure, with its message
        std::cerr << e.Message() << "\n";
        return 1;
    }
    return 0;
}
