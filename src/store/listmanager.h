#pragma once
// A list of owned byte strings with an element count, appending at the tail and a read cursor.
// Elements keep their address until they are removed, so callers may hold on to them.

#include <cstddef>
#include <list>
#include <string>
#include <string_view>

namespace kelvra::store {

class listmanager {
  public:
    listmanager() = default;
    virtual ~listmanager();
    listmanager(const listmanager&) = delete;
    listmanager& operator=(const listmanager&) = delete;

    // Frees every element; the cursor goes back to the start.
    void Clear();
    // Appends a copy (bytes may include NULs; c_str() is NUL-terminated) and returns it.
    const std::string& Append(std::string_view text);
    // The C form: a length below 1 means the text's own length.
    const std::string& Append(const char* text, long length);
    // The element under the cursor, then advances; nullptr at the end.
    const std::string* Next();
    // Cursor to the first element.
    void Rewind();
    // Removes the first element; true when elements remain. A cursor on it moves to the next.
    bool RemoveFirst();
    // Moves the first element to the end (a cursor on it stays on it).
    void MoveFirstToEnd();
    std::size_t Count() const { return items_.size(); }
    const std::string* First() const { return items_.empty() ? nullptr : &items_.front(); }

    // Read-only walk without touching the cursor.
    std::list<std::string>::const_iterator begin() const { return items_.begin(); }
    std::list<std::string>::const_iterator end() const { return items_.end(); }

  private:
    std::list<std::string> items_;
    std::list<std::string>::iterator cursor_ = items_.end();
};

}  // namespace kelvra::store
