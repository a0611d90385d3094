// The schema browser; see the headers in this folder.
