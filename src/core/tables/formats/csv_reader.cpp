#include "core/tables/formats/csv_reader.hpp"

#include "core/base/text_rules.hpp"

namespace quorvel {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr char kQuote = '"';

}  // namespace

CsvReader::CsvReader(std::span<const std::uint8_t> content, CsvSettings settings)
    : content_(reinterpret_cast<const char*>(content.data()), content.size()), settings_(settings) {
  if (content_.starts_with(kByteOrderMark)) {
    pos_ = kByteOrderMark.size();
  }
  ends_field_[static_cast<unsigned char>(settings_.delimiter)] = true;
  ends_field_['\r'] = true;
  ends_field_['\n'] = true;
  valid_utf8_end_ = pos_ + utf8_valid_up_to(content_.substr(pos_));
}

bool CsvReader::at_line_end(std::size_t pos) const {
  return content_[pos] == '\n' || content_[pos] == '\r';
}

void CsvReader::skip_to_record_start() {
  while (pos_ < content_.size()) {
    if (at_line_end(pos_)) {
      ++pos_;
      continue;
    }
    if (settings_.comment && content_[pos_] == *settings_.comment) {
      const std::size_t lf = content_.find('\n', pos_);
      pos_ = lf == std::string_view::npos ? content_.size() : lf + 1;
      continue;
    }
    return;
  }
}

std::size_t CsvReader::find_field_end(std::size_t pos) const {
  while (pos < content_.size() && !ends_field_[static_cast<unsigned char>(content_[pos])]) {
    ++pos;
  }
  return pos;
}

void CsvReader::read_quoted_field() {
  ++pos_;  // the opening quote
  std::size_t start = pos_;
  std::size_t owned_start = 0;
  bool owned = false;
  const auto take_owned = [&] {
    if (!owned) {
      owned = true;
      owned_start = owned_.size();
    }
  };
  for (;;) {
    const std::size_t quote = content_.find(kQuote, pos_);
    if (quote == std::string_view::npos) {
      // The content ends inside the quotes: the rest is the field's text.
      pos_ = content_.size();
      if (!owned) {
        slices_.push_back({start, pos_ - start, false});
        return;
      }
      owned_.append(content_.substr(start));
      break;
    }
    if (quote + 1 < content_.size() && content_[quote + 1] == kQuote) {
      take_owned();
      owned_.append(content_.substr(start, quote + 1 - start));  // keeps one quote
      pos_ = quote + 2;
      start = pos_;
      continue;
    }
    // The closing quote; text after it up to the field's end joins the field.
    const std::size_t tail_start = quote + 1;
    pos_ = find_field_end(tail_start);
    if (!owned && pos_ == tail_start) {
      slices_.push_back({start, quote - start, false});
      return;
    }
    take_owned();
    owned_.append(content_.substr(start, quote - start));
    owned_.append(content_.substr(tail_start, pos_ - tail_start));
    break;
  }
  slices_.push_back({owned_start, owned_.size() - owned_start, true});
}

void CsvReader::read_record() {
  slices_.clear();
  owned_.clear();
  for (;;) {
    if (pos_ < content_.size() && content_[pos_] == kQuote) {
      read_quoted_field();
    } else {
      const std::size_t end = find_field_end(pos_);
      slices_.push_back({pos_, end - pos_, false});
      pos_ = end;
    }
    if (pos_ == content_.size() || at_line_end(pos_)) {
      return;  // line ends are consumed when the next record is sought
    }
    ++pos_;  // the delimiter
  }
}

std::uint64_t CsvReader::line_at(std::size_t offset) const {
  std::uint64_t line = 1;
  for (std::size_t i = 0; i < offset; ++i) {
    if (content_[i] == '\n' ||
        (content_[i] == '\r' && (i + 1 >= content_.size() || content_[i + 1] != '\n'))) {
      ++line;
    }
  }
  return line;
}

Expected<bool> CsvReader::next(std::vector<std::string_view>& fields) {
  for (;;) {
    skip_to_record_start();
    if (pos_ == content_.size()) {
      return false;
    }
    const std::size_t record_start = pos_;
    read_record();
    if (!seen_first_record_) {
      seen_first_record_ = true;
      expected_fields_ = slices_.size();
      if (settings_.skip_header_record) {
        continue;
      }
    } else if (settings_.same_field_count && slices_.size() != expected_fields_) {
      return BufrError::csv_field_count(data_records_, line_at(record_start), record_start,
                                        slices_.size(), expected_fields_);
    }

    // owned_ is complete now, so views into it stay put.
    const bool check_utf8 = pos_ > valid_utf8_end_;
    fields.clear();
    for (std::size_t i = 0; i < slices_.size(); ++i) {
      const FieldSlice& slice = slices_[i];
      const std::string_view field = slice.owned
                                         ? std::string_view(owned_).substr(slice.offset, slice.size)
                                         : content_.substr(slice.offset, slice.size);
      if (check_utf8) {
        const std::size_t valid = utf8_valid_up_to(field);
        if (valid != field.size()) {
          return BufrError::csv_invalid_utf8(data_records_, line_at(record_start), i, record_start,
                                             valid);
        }
      }
      fields.push_back(field);
    }
    ++data_records_;
    return true;
  }
}

}  // namespace quorvel
