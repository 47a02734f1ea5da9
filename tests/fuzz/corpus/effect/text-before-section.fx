stray text
@technique T
