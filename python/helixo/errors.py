"""The exceptions of helixo: every error a plug-in raises, and the user's stop."""

from __future__ import annotations


class HelixoError(Exception):
    """An error raised by a plug-in or by helixo itself.

    ``identifier`` is the error's identifier (for example
    ``"helixo:alignport:getstartsinref:InvalidReference"``) and ``message`` its text;
    ``str(err)`` is ``"IDENTIFIER: MESSAGE"`` and ``err.args == (identifier, message)``.
    """

    def __init__(self, identifier: str, message: str) -> None:
        super().__init__(identifier, message)
        self.identifier = identifier
        self.message = message

    def __str__(self) -> str:
        return f"{self.identifier}: {self.message}"

    def __reduce__(self):  # keeps both attributes (and any added ones) across pickle
        return (type(self), (self.identifier, self.message), self.__dict__)


class Interrupted(HelixoError, KeyboardInterrupt):
    """The plug-in stopped because the user asked it to (Ctrl-C, or ``interrupt_at``).

    ``except KeyboardInterrupt`` catches it; its identifier is the plug-in's own.
    """


def is_interruption(identifier: str) -> bool:
    """Whether an identifier is a plug-in's stop at the user's request."""
    return identifier.endswith(":IterruptedByUser")
