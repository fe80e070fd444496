#include "bench/deflate/sql_dump_generator.h"

#include <cstdint>
#include <cstdio>

namespace vaultwick::bench {

namespace {

// Small fixed-seed generator so every run and machine sees the same dump.
class Random {
 public:
  std::uint32_t next() {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<std::uint32_t>(state_ >> 33);
  }
  std::uint32_t below(std::uint32_t n) { return next() % n; }

 private:
  std::uint64_t state_ = 0x5eed;
};

const char* const kFirstNames[] = {"Anna",  "Bernd", "Clara", "Dmitri", "Elif",   "Farid",
                                   "Greta", "Hiro",  "Ines",  "Jonas",  "Katrin", "Luis",
                                   "Maja",  "Nils",  "Olga",  "Pavel",  "Quinn",  "Rosa"};
const char* const kLastNames[] = {"Schmidt", "Novak",  "Rossi",    "Garcia", "Okafor", "Lindqvist",
                                  "Tanaka",  "Dubois", "Kowalski", "Meyer",  "Silva",  "Yilmaz"};
const char* const kCities[] = {"Berlin", "Lisboa", "Krakow", "Lyon",  "Osaka",
                               "Graz",   "Turku",  "Porto",  "Leeds", "Brno"};
const char* const kWords[] = {"delivered", "pending", "returned", "express",  "fragile",
                              "gift",      "invoice", "partial",  "priority", "standard"};

void append_customers_table(std::string& out) {
  out +=
      "DROP TABLE IF EXISTS `customers`;\r\n"
      "CREATE TABLE `customers` (\r\n"
      "  `id` int(11) NOT NULL,\r\n"
      "  `first_name` varchar(40) NOT NULL,\r\n"
      "  `last_name` varchar(40) NOT NULL,\r\n"
      "  `email` varchar(120) DEFAULT NULL,\r\n"
      "  `city` varchar(60) DEFAULT NULL,\r\n"
      "  `created` datetime NOT NULL,\r\n"
      "  `balance` decimal(12,2) NOT NULL,\r\n"
      "  PRIMARY KEY (`id`)\r\n"
      ");\r\n\r\n";
}

void append_orders_table(std::string& out) {
  out +=
      "DROP TABLE IF EXISTS `orders`;\r\n"
      "CREATE TABLE `orders` (\r\n"
      "  `id` int(11) NOT NULL,\r\n"
      "  `customer_id` int(11) NOT NULL,\r\n"
      "  `amount` decimal(10,2) NOT NULL,\r\n"
      "  `status` varchar(20) NOT NULL,\r\n"
      "  `note` text,\r\n"
      "  `shipped` date DEFAULT NULL,\r\n"
      "  PRIMARY KEY (`id`)\r\n"
      ");\r\n\r\n";
}

}  // namespace

std::string generate_sql_dump(std::size_t approximate_bytes) {
  Random rng;
  std::string out;
  out.reserve(approximate_bytes + 4096);
  char line[512];

  append_customers_table(out);
  const std::size_t customers_end = approximate_bytes * 2 / 5;
  for (int id = 1; out.size() < customers_end; ++id) {
    const char* first = kFirstNames[rng.below(std::size(kFirstNames))];
    const char* last = kLastNames[rng.below(std::size(kLastNames))];
    const bool has_email = rng.below(10) != 0;
    char email[160] = "NULL";
    if (has_email) {
      std::snprintf(email, sizeof email, "'%c.%s%u@example.%s'", first[0] + 32, last,
                    rng.below(1000), rng.below(3) == 0 ? "org" : "com");
    }
    const int n = std::snprintf(
        line, sizeof line,
        "INSERT INTO `customers` VALUES (%d,'%s','%s',%s,'%s','20%02u-%02u-%02u %02u:%02u:%02u',"
        "%u.%02u);\r\n",
        id, first, last, email, kCities[rng.below(std::size(kCities))], 10 + rng.below(15),
        1 + rng.below(12), 1 + rng.below(28), rng.below(24), rng.below(60), rng.below(60),
        rng.below(100000), rng.below(100));
    out.append(line, static_cast<std::size_t>(n));
  }

  out += "\r\n";
  append_orders_table(out);
  for (int id = 1; out.size() < approximate_bytes; ++id) {
    std::string note = "NULL";
    if (rng.below(3) != 0) {
      note = "'";
      const std::uint32_t words = 1 + rng.below(8);
      for (std::uint32_t w = 0; w < words; ++w) {
        note += kWords[rng.below(std::size(kWords))];
        note += w + 1 < words ? " " : "";
      }
      note += "'";
    }
    const int n = std::snprintf(
        line, sizeof line, "INSERT INTO `orders` VALUES (%d,%u,%u.%02u,'%s',%s,%s);\r\n", id,
        1 + rng.below(200000), rng.below(5000), rng.below(100), kWords[rng.below(4)], note.c_str(),
        rng.below(5) == 0 ? "NULL" : "'2024-05-17'");
    out.append(line, static_cast<std::size_t>(n));
  }
  return out;
}

}  // namespace vaultwick::bench
