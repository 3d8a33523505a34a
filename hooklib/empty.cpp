// Keeps the library target valid before any part of it exists.
