// The bulk record operations; see the headers in this folder.
