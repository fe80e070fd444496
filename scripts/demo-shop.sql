-- A small shop for the demo: customers, products, orders and their lines,
-- with NULLs, text beyond ASCII, quotes and backslashes, and a BLOB.

CREATE TABLE customers (
  id INT NOT NULL AUTO_INCREMENT,
  name VARCHAR(80) NOT NULL,
  email VARCHAR(120) NULL,
  city VARCHAR(60) NULL,
  joined DATE NOT NULL,
  credit DECIMAL(10,2) NOT NULL DEFAULT '0.00',
  PRIMARY KEY (id),
  UNIQUE KEY email (email),
  KEY city_name (city, name)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

INSERT INTO customers (name, email, city, joined, credit) VALUES
  ('Aoife O''Hara', 'aoife@example.org', 'Cork', '2021-03-14', 12.50),
  ('Zoë Ångström', 'zoe@example.se', 'Göteborg', '2022-11-02', 0.00),
  ('Łukasz Żółć', NULL, 'Kraków', '2023-01-20', 250.00),
  ('山田 太郎', 'taro@example.jp', '東京', '2020-07-07', 99.99),
  ('Back\\Slash & "Quotes"', 'odd@example.com', NULL, '2024-02-29', 0.01),
  ('Nadia Al-Mansour', 'nadia@example.ae', 'دبي', '2019-12-31', 5.00);

CREATE TABLE products (
  id INT NOT NULL AUTO_INCREMENT,
  sku CHAR(8) NOT NULL,
  title VARCHAR(100) NOT NULL,
  description TEXT NULL,
  price DECIMAL(8,2) NOT NULL,
  weight_kg DOUBLE NULL,
  thumbnail BLOB NULL,
  PRIMARY KEY (id),
  UNIQUE KEY sku (sku),
  FULLTEXT KEY ft_text (title, description)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

INSERT INTO products (sku, title, description, price, weight_kg, thumbnail) VALUES
  ('KET-0001', 'Kettle', 'Stainless steel, 1.7 l.\nBoils in 3 minutes.', 34.90, 1.25, NULL),
  ('MUG-0002', 'Mug «Café»', 'Holds 350 ml; it''s dishwasher safe', 8.50, 0.35,
   x'89504E470D0A1A0A0000000D49484452000000010000000108060000001F15C4890000000D4944415478DA63F8FFFF3F0005FE02FEA7358D1C0000000049454E44AE426082'),
  ('TEA-0003', 'Green tea 緑茶', NULL, 6.20, 0.10, x'00FF00FF5C27220D0A1A'),
  ('BAG-0004', 'Tote bag', 'Path C:\\shop\\bags; tab\there', 12.00, NULL, ''),
  ('GFT-0005', 'Gift card', 'No weight, no thumbnail', 25.00, NULL, NULL);

CREATE TABLE orders (
  id INT NOT NULL AUTO_INCREMENT,
  customer_id INT NOT NULL,
  placed_at DATETIME NOT NULL,
  shipped_at DATETIME NULL,
  status ENUM('new','paid','shipped','cancelled') NOT NULL DEFAULT 'new',
  note VARCHAR(255) NULL,
  PRIMARY KEY (id),
  KEY customer (customer_id),
  KEY placed (placed_at)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

INSERT INTO orders (customer_id, placed_at, shipped_at, status, note) VALUES
  (1, '2024-05-01 09:15:00', '2024-05-02 14:00:00', 'shipped', NULL),
  (2, '2024-05-03 18:40:12', NULL, 'paid', 'Leave at the door, tack!'),
  (3, '2024-05-04 07:05:59', NULL, 'new', ''),
  (4, '2024-05-04 23:59:59', '2024-05-06 10:30:00', 'shipped', '贈り物です'),
  (1, '2024-05-07 12:00:00', NULL, 'cancelled', 'Customer said: "not now"');

CREATE TABLE order_lines (
  order_id INT NOT NULL,
  line_no SMALLINT NOT NULL,
  product_id INT NOT NULL,
  quantity INT NOT NULL DEFAULT '1',
  unit_price DECIMAL(8,2) NOT NULL,
  PRIMARY KEY (order_id, line_no),
  KEY product (product_id)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

INSERT INTO order_lines VALUES
  (1, 1, 1, 1, 34.90), (1, 2, 2, 4, 8.50),
  (2, 1, 3, 10, 6.20),
  (3, 1, 4, 2, 12.00), (3, 2, 5, 1, 25.00),
  (4, 1, 2, 2, 8.00),
  (5, 1, 1, 1, 34.90);
