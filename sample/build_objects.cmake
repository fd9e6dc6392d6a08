# Makes the sample installation's objects from their descriptions.
# STUB: replaced by the object writer.
