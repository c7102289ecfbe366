namespace vendrak {}
