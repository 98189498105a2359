"""Exports of the model and runs to other formats."""
