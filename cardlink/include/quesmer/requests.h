// The XML request texts sent to the decoder-card server.
//
// Pure functions: each returns the complete request (the command envelope
// around its body, CR LF line ends), or an empty text when the call has
// nothing to send. Arguments whose out-of-range values are replaced take a
// reference and receive the replacement. Numeric arguments of -1 (and empty
// texts for the mode strings) mean "left out". Inserted values are escaped
// for the five XML special characters.
#pragma once

#include "quesmer/types.h"

#include <QString>

namespace quesmer::requests {

// XML-escapes & < > " and '.
QString escape(const QString& text);
// Shortest decimal text with at most 15 significant digits, always with a point.
QString formatDouble(double value);
// <Message version="1.0"><Command> body </Command></Message>, line by line.
QString envelope(const QString& body);

QString raw(const QString& dat);  // Dat unescaped: the caller writes XML
QString set(const QString& dat);  // <Set> with Dat as its content
QString get(const QString& dat);  // <Get Dat/>, or <Get/> when Dat is empty
QString getStatus();
QString getCodeList();
QString getCodeInfo(QString& code);  // code is lower-cased in place
QString activateGui(const QString& host, Long port);

QString setConfiguration(Integer headerLong, TXTTyp textFmt, EncTyp binFmt, Integer& indicatorPerMin,
                         Integer& fftPerSec);
QString setInput(Integer& source, Integer& gain, Long& translation, AGCTyp agc);
QString setAls(ALSTyp als);
QString setMode(QString& modulation, QString& code, double speed, double& shift, Integer polarity, QString& alphabet,
                Boolean autoMode);
QString setFrequency(Integer& center, AFCTyp afc);
QString setFilter(Integer& center, Integer& bandwidth);

QString connectByNumber(Integer number);
QString connectBySerial(const QString& serial);
QString disconnect();

}  // namespace quesmer::requests
