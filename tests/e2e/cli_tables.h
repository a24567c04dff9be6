// Small tables and string helpers shared by the command-line and run tests.
#pragma once

#include <filesystem>
#include <string>

namespace e2e {

// One system with one section, one field list of two fields, no maps, and
// the table-wide values: the smallest table that exercises every message
// level of the text reader.
inline const std::string kSmallTable =
    "# A small table\r\n"
    "TYPE=SYSTEM\r\n"
    "COUNT=1\r\n"
    "SYSTEM=1,0,0,\"Address Book\",ABK,,1,0,0,,0,Sections,0,0000000000,0X0,0,0,1\r\n"
    "SYSTEMEX1=8,0X0,0X0,0X0,0X0,0X0,0X0,0X0,0X0\r\n"
    "SYSTEMEX2=0,0,0,0,0,,\r\n"
    "SYSTEMEX3=,,,,\r\n"
    "SECTION=1,3,\"Contacts\",,0,,,0X0,0,,0\r\n"
    "TYPE=FIELDS\r\n"
    "COUNT=1\r\n"
    "LISTID=0\r\n"
    "APP=1\r\n"
    "SECID=1\r\n"
    "SECTYPE=3\r\n"
    "NAME=Contacts\r\n"
    "COUNT=2\r\n"
    "FIELD=1,\"Last\",\"Last Name\",1,S,0,0,,,0X0,0,0\r\n"
    "FIELD=2,\"First\",\"First Name\",2,S,0,0,,,0X0,0,0\r\n"
    "TYPE=MAPS\r\n"
    "COUNT=0\r\n"
    "TYPE=TABLE\r\n"
    "MAINSYSTEM=1\r\n"
    "MAINCLASS=0\r\n"
    "PRODUCTID=7\r\n"
    "BUNDLEDFLAG=0\r\n"
    "ENABLEDPRODUCTS=0\r\n";

// The same table as version 3 text: no SYSTEMEX lines, no TABLE block.
inline const std::string kSmallTableV3 =
    "TYPE=SYSTEM\r\n"
    "COUNT=1\r\n"
    "SYSTEM=1,0,0,\"Address Book\",ABK,,1,0,0,,0,Sections,0,0000000000,0X0,0,0,1\r\n"
    "SECTION=1,3,\"Contacts\",,0,,,0X0,0,,0\r\n"
    "TYPE=FIELDS\r\n"
    "COUNT=1\r\n"
    "LISTID=0\r\n"
    "APP=1\r\n"
    "SECID=1\r\n"
    "SECTYPE=3\r\n"
    "NAME=Contacts\r\n"
    "COUNT=2\r\n"
    "FIELD=1,\"Last\",\"Last Name\",1,S,0,0,,,0X0,0,0\r\n"
    "FIELD=2,\"First\",\"First Name\",2,S,0,0,,,0X0,0,0\r\n"
    "TYPE=MAPS\r\n"
    "COUNT=0\r\n";

inline bool Contains(const std::string& s, const std::string& part) {
  return s.find(part) != std::string::npos;
}
inline bool StartsWith(const std::string& s, const std::string& head) {
  return s.compare(0, head.size(), head) == 0;
}
inline bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}
inline void Mkdir(const std::string& path) { std::filesystem::create_directories(path); }

}  // namespace e2e
