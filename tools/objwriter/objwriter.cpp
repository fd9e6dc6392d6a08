// STUB: replaced by the object writer.
